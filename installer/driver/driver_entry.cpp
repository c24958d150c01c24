// The driver-mode entry: parses the "Driver" command line, requires root, opens the log, runs
// the engine's phases in order and writes the uninstall record.
#include "installer/driver/driver_entry.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "installer/app.h"
#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/logger.h"

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
  options.install_path = absolute(app.install_path);
  options.module_signing_secret_key = absolute(app.module_signing_secret_key);
  options.module_signing_public_key = absolute(app.module_signing_public_key);

  const std::string package = getCurrentExeDirectory();
  if (package.empty() || chdir(package.c_str()) != 0) {
    zulogger::logger(FATAL, "Cannot enter the driver package directory %s.\n", package.c_str());
    zulogger::code_error_message(CODE_DRIVER_PACKAGE_NOT_FOUND);
    zulogger::shutdown();
    return CODE_DRIVER_PACKAGE_NOT_FOUND;
  }

  DriverInstaller installer(options);
  uint8_t code = installer.PreInstallation();
  // Once the checks passed or the prefix was made, the host has changed: the record is written
  // even after a failure so that the next installation can remove what this one left. A
  // failure before that point keeps the previous installation's record.
  const bool changed = code == 0 || !installer.created_dirs.empty();
  if (code == 0) code = installer.StartInstallation();
  if (code == 0) code = installer.PostInstallation();
  if (changed) installer.saveInstalledInfo();

  if (code != 0) zulogger::code_error_message(code);
  else zulogger::logger(RECORD, "Ostrel driver installation succeeded.\n");
  zulogger::shutdown();
  return code;
}
