// The driver-mode entry: parses the "Driver" command line, requires root, opens the log, runs
// the engine's phases in order and writes the uninstall record.
#include "installer/driver/driver_entry.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "installer/app.h"
#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/logger.h"
#include "installer/uninstall.h"

namespace {

const char* const default_log = "/var/log/quelvanostrel/install.log";

// The engine works in the package directory, so relative paths from the user's command line
// are made absolute against the directory the user started in.
std::string absolute(const std::string& p) {
  if (p.empty() || p[0] == '/') return p;
  std::error_code ec;
  std::filesystem::path a = std::filesystem::absolute(p, ec);
  return ec ? p : a.lexically_normal().string();
}

// Why path cannot be used, nullptr when it can. Every path ends up in the log and in messages,
// where a control character would forge lines; the install path also goes into the uninstall
// manifest, whose fields are separated by blanks, and into the unit's ExecStart, where quotes,
// backslashes, "%" and "$" have meanings of their own.
const char* unusable(const std::string& path, bool into_unit) {
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7f) return "it holds a line break or another control character";
    if (into_unit && c == ' ') return "it holds a blank, which the uninstall manifest cannot hold";
    if (into_unit && strchr("\"'\\%$;", c))
      return "it holds one of \" ' \\ % $ ;, which the systemd unit cannot hold";
  }
  return nullptr;
}

// path in double quotes, control characters written as \n or \xHH.
std::string printable(const std::string& path) {
  std::string out = "\"";
  for (unsigned char c : path) {
    char buf[8];
    if (c == '\n') out += "\\n";
    else if (c < 0x20 || c == 0x7f) snprintf(buf, sizeof buf, "\\x%02x", c), out += buf;
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

}  // namespace

int driver_installer_main(int argc, char** argv) {
  App app;
  app.SetApp(argc, argv, "Driver");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (geteuid() != 0) {
    fprintf(stderr, "The Ostrel driver installation must be run as root.\n");
    zulogger::code_error_message(CODE_PERMISSION_DENIED);
    return CODE_PERMISSION_DENIED;
  }
  if (app.install_path.empty()) {
    fprintf(stderr, "The install path must not be empty.\n");
    zulogger::code_error_message(CODE_TOOLKIT_DIR);
    return CODE_TOOLKIT_DIR;
  }
  const std::string install_path = absolute(app.install_path);
  const std::string secret_key = absolute(app.module_signing_secret_key);
  const std::string public_key = absolute(app.module_signing_public_key);
  // Refused before anything on the host is touched, the log directory included.
  for (const auto& [what, path, into_unit] : {std::tuple{"install path", &install_path, true},
                                              std::tuple{"module signing secret key", &secret_key, false},
                                              std::tuple{"module signing public key", &public_key, false}}) {
    if (const char* why = unusable(*path, into_unit)) {
      fprintf(stderr, "The %s %s cannot be used: %s.\n", what, printable(*path).c_str(), why);
      zulogger::code_error_message(CODE_UNUSABLE_PATH);
      return CODE_UNUSABLE_PATH;
    }
  }

  set_umask();
  if (app.silent) zulogger::silent();
  std::string log = default_log;
  zulogger::InitializeLogger(log);

  driverOptions options;
  options.disable_dkms = app.disable_dkms;
  options.with_vgpu = app.with_vgpu && !app.without_vgpu;  // turning it off wins
  options.disable_vtnfs = app.disable_vtnfs;
  options.disable_vtn_peer_mem_drv = app.disable_vtn_peer_mem_drv;
  options.no_systemd = app.no_systemd;
  options.kernel_source_path = absolute(app.kernel_source_path);
  options.install_path = install_path;
  options.module_signing_secret_key = secret_key;
  options.module_signing_public_key = public_key;

  const std::string package = getCurrentExeDirectory();
  if (package.empty() || chdir(package.c_str()) != 0) {
    zulogger::logger(FATAL, "Cannot enter the driver package directory %s.\n", package.c_str());
    zulogger::code_error_message(CODE_DRIVER_PACKAGE_NOT_FOUND);
    zulogger::shutdown();
    return CODE_DRIVER_PACKAGE_NOT_FOUND;
  }

  DriverInstaller installer(options);
  uint8_t code = installer.PreInstallation();
  if (code == 0) code = installer.StartInstallation();
  if (code == 0) code = installer.PostInstallation();
  // Once the previous installation was removed, the record is written even after a failure so
  // that the next installation can remove what this one left. A failure before that point
  // (checks, build, signing) keeps the previous installation and its record; the directories
  // made for the new prefix go again.
  if (code == 0 || installer.previous_removed) {
    const uint8_t written = installer.saveInstalledInfo();
    if (code == 0) code = written;
  } else {
    cleanFiles(installer.created_dirs, installer.prefix);
  }

  if (code != 0) zulogger::code_error_message(code);
  else zulogger::logger(RECORD, "Ostrel driver installation succeeded.\n");
  zulogger::shutdown();
  return code;
}
