#include "installer/uninstall.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "installer/codes.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/utils.h"

namespace fs = std::filesystem;

// The current digest of an installed file: from cache, else md5sum. Not stored: the file may be
// replaced by the installation that follows, and a stored digest would then be recorded for
// the new file.
static std::string current_md5(const std::string& path) {
  auto it = process_state.digests.find(path);
  return it != process_state.digests.end() ? it->second : md5sum(path);
}

const std::map<std::string, RemoveOperation> RemoveHandler = {
    {"OSTREL", log_ostrel_toolkit_install_path},
    {"SYMLINK", rmlink},
    {"FILE", rmfile},
    {"RFILE", rmRFILE},
    {"RLINK", rmRLink},
    {"DIR", rmdir},
    {"SERVICE", rmservice},
    {"DKMS", rmDKMS},
};

// True when the item must stay because the toolkit or the driver is still installed under the
// recorded install path. The two tests run once per process.
static bool kept_by_installed_product(const std::string& path) {
  UninstallState& s = process_state.uninstall;
  if (!s.ostrel_checked) {
    s.toolkit_installed = is_toolkit_installed(s.installed_path);
    s.driver_installed = is_driver_installed(s.installed_path);
    s.ostrel_checked = true;
  }
  if (s.toolkit_installed) {
    zulogger::logger(INFO, "Uninstall: Toolkit not uninstalled. Skipping remove %s.\n", path.c_str());
    return true;
  }
  if (s.driver_installed) {
    zulogger::logger(INFO, "Uninstall: Driver not uninstalled. Skipping remove %s.\n", path.c_str());
    return true;
  }
  return false;
}

uint8_t log_ostrel_toolkit_install_path(const FileInfo& f) {
  process_state.uninstall.installed_path = f.path;
  zulogger::logger(INFO, "Installed path is %s.\n", f.path.c_str());
  return CODE_SUCCESS;
}

uint8_t rmfile(const FileInfo& f) {
  const char* p = f.path.c_str();
  if (!isFileExists(f.path)) {
    zulogger::logger(INFO, "Uninstall: %s not exist. Skipping.\n", p);
    return CODE_SUCCESS;
  }
  std::string current = current_md5(f.path);
  if (current.empty()) {
    zulogger::logger(WARNING, "Uninstall: md5sum of %s is empty. Skipping.\n", p);
    return CODE_SUCCESS;
  }
  if (current != f.md5) {
    process_state.uninstall._checksum_mismatched = true;
    zulogger::logger(INFO, "Uninstall: md5sum of %s has changed. Skipping. expected,actual:(%s %s).\n",
                     p, f.md5.c_str(), current.c_str());
    return CODE_SUCCESS;
  }
  if (unlink(p) != 0) {
    zulogger::logger(ERROR, "Uninstall: %s Failed.\n%s\n", p, code_banner(CODE_REMOVE_CONFIG).c_str());
    return CODE_REMOVE_CONFIG;
  }
  zulogger::logger(INFO, "Uninstall: %s Succeed.\n", p);
  return CODE_SUCCESS;
}

uint8_t rmRFILE(const FileInfo& f) {
  if (kept_by_installed_product(f.path)) return CODE_SUCCESS;
  return rmfile(f);
}

static uint8_t unlink_symlink(const FileInfo& f, uint8_t failure) {
  if (!isSymlink(f.path)) return CODE_SUCCESS;  // anything else is not ours to remove
  if (unlink(f.path.c_str()) != 0) {
    zulogger::logger(ERROR, "Uninstall: %s Failed.\n%s\n", f.path.c_str(), code_banner(failure).c_str());
    return failure;
  }
  zulogger::logger(INFO, "Uninstall: %s Succeed.\n", f.path.c_str());
  return CODE_SUCCESS;
}

uint8_t rmlink(const FileInfo& f) {
  if (ends_with(f.path, "/lib") && kept_by_installed_product(f.path)) return CODE_SUCCESS;
  return unlink_symlink(f, CODE_REMOVE_LINK);
}

uint8_t rmRLink(const FileInfo& f) {
  if (kept_by_installed_product(f.path)) return CODE_SUCCESS;
  return unlink_symlink(f, CODE_REMOVE_RO_LINK);
}

uint8_t rmdir(const FileInfo& f) {
  std::error_code ec;
  // Only a real directory: a link or a file now lying at that path is not the recorded item.
  if (!fs::is_directory(fs::symlink_status(f.path, ec))) return CODE_SUCCESS;
  if (!fs::is_empty(f.path, ec)) {
    if (!ec) zulogger::logger(INFO, "Uninstall: %s not empty skip.\n", f.path.c_str());
    return CODE_SUCCESS;
  }
  bool removed = fs::remove(f.path, ec);
  if (ec)
    zulogger::logger(WARNING, "catched %s when rmdir %s\n", ec.message().c_str(), f.path.c_str());
  else if (removed)
    zulogger::logger(INFO, "Uninstall: %s Succeed.\n", f.path.c_str());
  else
    zulogger::logger(INFO, "Uninstall: %s Failed.\n", f.path.c_str());
  return CODE_SUCCESS;
}

static void log_service_failure(const std::string& unit, int status, const std::string& out) {
  zulogger::logger(ERROR, "Uninstall: service:%s failed, error code:%d, error message:%s.\n%s\n",
                   unit.c_str(), status, out.c_str(), code_banner(CODE_REMOVE_SERVICE).c_str());
}

uint8_t rmservice(const FileInfo& f) {
  if (is_inside_docker()) {
    zulogger::logger(INFO, "Skip systemctl in side docker.\n");
    return CODE_SKIP;
  }
  const std::string& unit = f.path;
  const std::string q = shell_quote(unit);
  std::string out;
  int status = 0;
  if (!exec("systemctl disable " + q + " 2>&1; systemctl stop " + q + " 2>&1", out, status, false))
    log_service_failure(unit, status, out);

  size_t at = unit.find('@');
  std::string unit_file = host::path("/lib/systemd/system/") +
                          (at == std::string::npos ? unit : unit.substr(0, at + 1)) + ".service";
  zulogger::logger(INFO, "checking service_file %s\n", unit_file.c_str());
  if (isFileExists(unit_file)) {
    auto it = process_state.digests.find(unit_file);
    bool same = (it != process_state.digests.end() && it->second == f.md5);
    if (!same) {
      std::string digest = md5sum(unit_file);
      same = !digest.empty() && digest == f.md5;
    }
    if (!same) {
      zulogger::logger(INFO, "%s's md5 mismatch, skip remove. please check it's content.\n",
                       unit_file.c_str());
      return CODE_SUCCESS;
    }
    if (unlink(unit_file.c_str()) == 0)
      zulogger::logger(INFO, "Uninstall: %s Succeed.\n", unit_file.c_str());
  }

  if (!exec("systemctl reset-failed;systemctl daemon-reload", out, status))
    log_service_failure(unit, status, out);

  exec("systemctl status " + q + " 2>&1", out, status, false);
  if (status != 4) {  // 4: no such unit, which is what a removed unit must answer
    log_service_failure(unit, status, out);
    zulogger::logger(FATAL, "Uninstall service failed, please add '--no-systemd' and reinstall the driver\n");
    return CODE_REMOVE_SERVICE;
  }
  zulogger::logger(INFO, "Uninstall: service:%s success.\n", unit.c_str());

  if (at != std::string::npos) {
    std::string slice = "system/" + unit.substr(0, at) + ".slice";
    // 2>&1 inside the command: appended after a ";" it would hide the stop's exit status.
    if (!exec("systemctl stop \"$(systemd-escape " + shell_quote(slice) + ")\" 2>&1", out, status, false))
      zulogger::logger(ERROR, "Uninstall: slice:%s failed, error code:%d, error message:%s.\n%s\n",
                       slice.c_str(), status, out.c_str(), code_banner(CODE_REMOVE_SERVICE).c_str());
  } else {
    zulogger::logger(INFO, "not template. f.path:%s\n", unit.c_str());
  }
  return CODE_SUCCESS;
}

uint8_t rmDKMS(const FileInfo&) {
  if (is_inside_docker()) {
    zulogger::logger(INFO, "in side docker. skip dkms uninstall.\n");
    return CODE_SUCCESS;
  }
  uint8_t r = uninstall_dkms();
  return r == CODE_DKMS_NOT_INSTALLED ? uint8_t{CODE_SUCCESS} : r;
}

uint8_t executeUninstall(const std::vector<FileInfo>& records) {
  for (const auto& f : records) {
    auto it = RemoveHandler.find(f.type);
    if (it == RemoveHandler.end()) {
      zulogger::logger(FATAL, "Uninstall: type:%s's handler is not found.\n%s\n", f.type.c_str(),
                       code_banner(CODE_REMOVE_CONFIG).c_str());
      return CODE_REMOVE_CONFIG;
    }
    uint8_t r = it->second(f);
    if (r != CODE_SUCCESS && r != CODE_SKIP) {
      zulogger::logger(FATAL, "Before installing the driver, uninstalling related files failed.\n");
      return r;
    }
  }
  if (process_state.uninstall._checksum_mismatched)
    zulogger::logger(RECORD, "Found changed file during uninstall ostrel, changed file will not be "
                     "remove.\nCheck uninstall log please.\n");
  return CODE_SUCCESS;
}

void cleanFiles(const std::vector<FileInfo>& records, const std::string& installPath) {
  bool driver = is_driver_installed(installPath);
  std::error_code ec;
  for (const auto& f : records) {
    bool keep = driver && is_reserved(f.path, installPath);
    if (f.type == "FILE" && isFileExists(f.path)) {
      if (keep)
        zulogger::logger(INFO, "Found reserved file %s %s\n", f.path.c_str(), f.type.c_str());
      else if (current_md5(f.path) == f.md5)
        unlink(f.path.c_str());
    } else if (f.type == "DIR" && fs::is_directory(fs::symlink_status(f.path, ec)) &&
               fs::is_empty(f.path, ec)) {
      fs::remove(f.path, ec);
    } else if (f.type == "SYMLINK") {
      if (keep)
        zulogger::logger(INFO, "Found reserved file %s %s\n", f.path.c_str(), f.type.c_str());
      else if (isSymlink(f.path))
        unlink(f.path.c_str());
    }
  }
}

DkmsConfig dkms_config_from_text(const std::string& text) {
  DkmsConfig conf;
  for (const auto& line : split(text, '\n')) {
    if (!line.empty() && line[0] == '#') continue;
    std::string* target = nullptr;
    std::string key;
    for (auto [k, t] : {std::pair{"dkms_tree=", &conf.dkms_tree},
                        std::pair{"source_tree=", &conf.source_tree},
                        std::pair{"install_tree=", &conf.install_tree}}) {
      if (line.find(k) != std::string::npos) {
        key = k;
        target = t;
        break;
      }
    }
    if (!target) continue;
    std::string value = line.substr(line.find(key) + key.size());
    std::erase(value, '"');
    *target = value;
  }
  return conf;
}

DkmsConfig parse_dkms_conf() {
  DkmsConfig conf;
  std::string file = host::path("/etc/dkms/framework.conf");
  zulogger::logger(INFO, "parsing dkms config %s\n", file.c_str());
  std::string text;
  if (!isFileExists(file)) {
    zulogger::logger(WARNING, "dkms conf %s not exist. assume default value.\n", file.c_str());
  } else if (!cachedFile(file, text)) {
    zulogger::logger(WARNING, "parse dkms file failed. assume default value.\n");
  } else if (text.empty()) {
    zulogger::logger(WARNING, "dkms conf %s is empty. assume default value.\n", file.c_str());
  } else {
    conf = dkms_config_from_text(text);
  }
  zulogger::logger(INFO, "source_tree %s\n                             dkms_tree %s\n"
                   "                             install_tree %s\n",
                   conf.source_tree.c_str(), conf.dkms_tree.c_str(), conf.install_tree.c_str());
  return conf;
}

uint8_t uninstall_dkms() {
  if (whichBinary("dkms").empty()) {
    zulogger::logger(ERROR, "dkms not installed, exit dkms uninstall.\n if you have dkms, please check PATH.%s\n",
                     code_banner(CODE_DKMS_NOT_INSTALLED).c_str());
    return CODE_DKMS_NOT_INSTALLED;
  }
  DkmsConfig conf = parse_dkms_conf();
  const std::string dkms_tree = host::path(conf.dkms_tree);
  const std::string source_tree = host::path(conf.source_tree);
  std::string out;
  int status = 0;
  for (std::string m : zuglob(dkms_tree + "/ostrel/*")) {
    zulogger::logger(INFO, "checking %s\n", m.c_str());
    if (!isSymlink(m) && !isSymlink(m + "/source") && !isDirExists(m + "/source")) continue;
    if (!m.empty() && m.back() == '/') m.pop_back();
    std::string version = m.substr(m.rfind('/') + 1);
    std::string cmd = "dkms remove " + shell_quote("ostrel/" + version) + " --all 2>&1";
    zulogger::logger(INFO, "CMD: << %s >>\n", cmd.c_str());
    exec(cmd, out, status, false);
    if (status != 0 && status != 3) {  // 3: nothing registered for that version
      zulogger::logger(ERROR, "Error happened in %s. please check manually. remove returns %d.\n%s\n%s\n",
                       cmd.c_str(), status, out.c_str(), code_banner(CODE_REMOVE_DKMS).c_str());
      return CODE_REMOVE_DKMS;
    }
  }
  std::string cmd = "rm -rf " + shell_quote(dkms_tree + "/ostrel") + "/* 2>&1";
  zulogger::logger(INFO, "uninstall dkms: CMD: << %s >>\n", cmd.c_str());
  if (!exec(cmd, out, status, false)) {
    zulogger::logger(ERROR, "remove dkms src /usr/src/ostrel* may failed. please remove it manually, error code:%d, error message:%s.\n%s\n",
                     status, out.c_str(), code_banner(CODE_REMOVE_DKMS).c_str());
    return CODE_REMOVE_DKMS;
  }
  cmd = "rm -rf " + shell_quote(source_tree) + "/ostrel-* 2>&1";
  if (!exec(cmd, out, status, false)) {
    zulogger::logger(ERROR, "Failed to delete dkms source files:%s %s\n%s\n", cmd.c_str(),
                     out.c_str(), code_banner(CODE_REMOVE_CONFIG).c_str());
    return CODE_REMOVE_CONFIG;
  }
  return CODE_SUCCESS;
}
