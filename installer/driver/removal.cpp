// Removal of a driver that is already installed: unloading its modules and removing what its
// uninstall manifest records.
#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/uninstall.h"

// Files of older installations that no manifest records.
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
  std::vector<FileInfo> records =
      parseManifest(config.no_systemd, host::path(uninstall_manifest_path));
  if (records.empty()) {
    zulogger::logger(WARNING, "Parse uninstall manifest error. Please uninstall %s manually\n", name.c_str());
    if (!whichBinary("dkms").empty()) {
      zulogger::logger(INFO, "Found dkms, trying to remove dkms Ostrel configuration.\n");
      records.push_back({"DKMS", "latest", ""});
    }
  }
  uint8_t r = executeUninstall(records);
  if (r != 0) return r;

  std::string out;
  int status = 0;
  for (const char* leftover : leftover_files) {
    std::string path = host::path(leftover);
    if (!exec("rm -rf " + shell_quote(path), out, status))
      zulogger::logger(ERROR, "Clean up the old configuration file %s failed, %s", path.c_str(), out.c_str());
  }
  if (!exec("depmod 2>&1", out, status, false)) {
    zulogger::logger(ERROR, "Failed to depmod, modprobe/modinfo might can't find %s:\n%s\n%s\n",
                     name.c_str(), out.c_str(), code_banner(CODE_DEPENDENCY_MODULE).c_str());
    return CODE_DEPENDENCY_MODULE;
  }
  return CODE_SUCCESS;
}
