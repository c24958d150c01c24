// Removal of a driver that is already installed: unloading its modules and removing what its
// uninstall manifest records.
#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/uninstall.h"

// Configuration files of older installations that no manifest records. They may as well be the
// administrator's own, so they are reported, never removed.
static const char* const leftover_files[] = {
    "/usr/bin/quelvanostrel.sh",       "/lib/systemd/system/hung_detector",
    "/etc/modprobe.d/quelvan.conf",    "/etc/modules-load.d/quelvan.conf",
    "/etc/quelvan",
};

uint8_t DriverInstaller::UninstallOstrel() {
  bool any = false;
  for (const char* name : {"aq_driver", "quelvan"}) {
    if (get_module_status(name) < 0) {
      any = true;
      zulogger::logger(INFO, "Ostrel driver %s installed. Uninstall...\n", name);
      uint8_t r = uninstall_ostrel(name);
      if (r != 0) {
        zulogger::logger(ERROR, "Uninstall ostrel driver %s failed. \n%s\n", name, code_banner(CODE_RMMOD).c_str());
        return r;
      }
    } else {
      zulogger::logger(INFO, "Ostrel driver %s not installed. Continue...\n", name);
    }
  }
  if (!any) {
    zulogger::logger(INFO, "No driver installed. try uninstall utils.\n");
    uninstall_ostrel("");
  }
  return CODE_SUCCESS;
}

uint8_t DriverInstaller::uninstall_ostrel(const std::string& name) {
  if (name.empty()) return uninstall_utils(name);
  for (const char* companion : {"vtnfs", "vtn_peer_mem_drv"}) {
    if (get_module_status(companion) == 0) continue;
    std::string out;
    exec(std::string("rmmod ") + companion, out);
    if (get_module_status(companion) != 0) {
      zulogger::logger(ERROR, "Remove '%s' failed and it's maybe busy, error message: %s.\n%s\n",
                       companion, out.c_str(), code_banner(CODE_DRIVER_BUSY).c_str());
      return CODE_DRIVER_BUSY;
    }
  }
  uint8_t r = uninstall_utils(name);
  if (r != 0) return r;

  std::string out;
  switch (get_module_status(name)) {
    case 0:
      return CODE_SUCCESS;
    case -2:
      zulogger::logger(ERROR, "'quelvan' is busy. The packaged driver you're attempting to install should kill these associated processes first.\n%s\n",
                       code_banner(CODE_DRIVER_BUSY).c_str());
      return CODE_DRIVER_BUSY;
    case -1:
      if (exec("rmmod " + shell_quote(name), out)) {
        zulogger::logger(INFO, "Successfully uninstalled driver %s.\n", name.c_str());
        return CODE_SUCCESS;
      }
      zulogger::logger(ERROR, "Failed to uninstall driver %s.\n%s\n", name.c_str(), code_banner(CODE_RMMOD).c_str());
      return CODE_RMMOD;
    case 1:
      zulogger::logger(ERROR, "Internal error.\n");
      return CODE_UNKNOWN;
    default:
      return CODE_UNKNOWN;
  }
}

uint8_t DriverInstaller::uninstall_utils(const std::string& name) {
  std::vector<FileInfo> records;
  const std::string keys = host::path(module_key_dir) + "/";
  for (const FileInfo& f : parseManifest(config.no_systemd, host::path(uninstall_manifest_path))) {
    if (f.path.compare(0, keys.size(), keys) == 0 || f.path + "/" == keys) {
      zulogger::logger(INFO, "Keeping the module signing key %s.\n", f.path.c_str());
      continue;
    }
    records.push_back(f);
  }
  if (records.empty())
    zulogger::logger(WARNING, "Parse uninstall manifest error. Please uninstall %s manually\n", name.c_str());
  uint8_t r = executeUninstall(records);
  if (r != 0) return r;
  report_unrecorded(records);

  std::string out;
  int status = 0;
  if (!exec("depmod 2>&1", out, status, false)) {
    zulogger::logger(ERROR, "Failed to depmod, modprobe/modinfo might can't find %s:\n%s\n%s\n",
                     name.c_str(), out.c_str(), code_banner(CODE_DEPENDENCY_MODULE).c_str());
    return CODE_DEPENDENCY_MODULE;
  }
  return CODE_SUCCESS;
}

void DriverInstaller::report_unrecorded(const std::vector<FileInfo>& records) {
  std::vector<std::string> left;
  auto recorded = [&](const std::string& path) {
    for (const FileInfo& f : records)
      if (f.path == path) return true;
    return false;
  };
  for (const char* leftover : leftover_files) {
    const std::string path = host::path(leftover);
    if ((isFileExists(path) || isSymlink(path)) && !recorded(path)) left.push_back(path);
  }
  // DKMS registrations of the driver are removed through a DKMS record only.
  bool dkms_recorded = false;
  for (const FileInfo& f : records) dkms_recorded = dkms_recorded || f.type == "DKMS";
  if (!dkms_recorded) {
    const DkmsConfig dkms = parse_dkms_conf();
    for (const std::string& p : zuglob(host::path(dkms.dkms_tree) + "/ostrel/*")) left.push_back(p);
    for (const std::string& p : zuglob(host::path(dkms.source_tree) + "/ostrel-*")) left.push_back(p);
  }
  for (const std::string& path : left)
    zulogger::logger(RECORD, "Left in place: %s (no uninstall record shows that this installer made it).\n",
                     path.c_str());
}
