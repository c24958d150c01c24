// Kernel-module operations shared by the direct build, the DKMS build and the removal of a
// previous driver: status, loaders, version, OFED and NVMe detection, kernel messages.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/driver/text_readers.h"
#include "installer/host.h"
#include "installer/logger.h"

int DriverInstaller::get_module_status(const std::string& name) {
  const std::string modules = host::path("/proc/modules");
  if (!isFileExists(modules)) {
    // Hosts without it (some containers) would otherwise report it at every query.
    if (!module_state_warned)
      zulogger::logger(RECORD, "Warning: %s cannot be read; the state of kernel modules is unknown "
                       "and they are taken as not loaded.\n", modules.c_str());
    module_state_warned = true;
    return 0;
  }
  std::string text;
  storeFile(modules, text);
  const int status = module_status_from_text(text, name);
  if (status == -1)
    zulogger::logger(INFO, "get module status on module: %s not referenced\n", name.c_str());
  else if (status == -2)
    zulogger::logger(INFO, "get module status on module: %s is being used.\n", name.c_str());
  else
    zulogger::logger(INFO, "get module status on module: %s not installed.\n", name.c_str());
  return status;
}

uint8_t DriverInstaller::do_modprobe_module(const std::string& name, const std::string& params) {
  // params come from MODPROBE_PARAMS (name=value words), so they stay separate words.
  std::string cmd = "modprobe " + shell_quote(name);
  if (!params.empty()) {
    zulogger::logger(INFO, "Insert %s with parameters:%s\n", name.c_str(), params.c_str());
    cmd += " " + params;
  }
  std::string out;
  int status = 0;
  if (!exec(cmd + " 2>&1", out, status, false)) {
    zulogger::logger(ERROR, "Failed to insert kernel module:\n%s\n%s\n", out.c_str(),
                     code_banner(CODE_INSERT_KERNEL_MODULE).c_str());
    return CODE_INSERT_KERNEL_MODULE;
  }
  zulogger::logger(INFO, "modprobe %s succeed.\n", name.c_str());
  return CODE_SUCCESS;
}

int DriverInstaller::do_insmod(const char* file, const char* params) {
  int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ENOENT;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size == 0) {
    close(fd);
    return ENOENT;
  }
  void* image = mmap(nullptr, st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (image == MAP_FAILED) {
    close(fd);
    return ENOENT;
  }
  int result = host::init_module(image, st.st_size, params) == 0 ? 0 : errno;
  munmap(image, st.st_size);
  close(fd);
  return result;
}

bool DriverInstaller::get_driver_version(const std::string& file) {
  driver_version.clear();
  if (!isFileExists(file)) {
    zulogger::logger(WARNING, "ko file %s does not exist. set driver_version empty.\n", file.c_str());
    return false;
  }
  // Anchored: "srcversion:" also contains "version:".
  std::string cmd = "modinfo " + shell_quote(file) + " | grep '^version:'";
  std::string out;
  if (!exec(cmd, out)) {
    zulogger::logger(WARNING, "fetch module failed. cmd:%s.\n", cmd.c_str());
    return false;
  }
  zulogger::logger(INFO, "fetch ostrel %sfrom                             %s\n", out.c_str(),
                   file.c_str());
  driver_version = modinfo_version(out);
  return true;
}

bool DriverInstaller::check_is_ofed_installed() {
  std::string path;
  if (!get_ofed_source_path(path) || path.empty()) {
    zulogger::logger(INFO, "OFED source path is not available.\n");
    return false;
  }
  for (const std::string& p : {path, path + "/include/rdma/peer_mem.h", path + "/Module.symvers"}) {
    if (!isFileExists(p)) {
      zulogger::logger(ERROR, "OFED dir << %s >> is not exist.\n", p.c_str());
      return false;
    }
  }
  return true;
}

bool DriverInstaller::isNVMESupportGDS() {
  return isNeedleInPayload(host::path("/proc/kallsyms"), "nvme_v1_register_nvfs_dma_ops");
}

bool DriverInstaller::has_journalctl() {
  return !whichBinary("journalctl").empty() && isFileExists(host::path("/run/systemd/journal")) &&
         isFileExists(host::path("/lib/systemd/system/systemd-journald.service")) &&
         (isFileExists(host::path("/run/log/journal")) ||
          isFileExists(host::path("/var/log/journal")));
}

bool DriverInstaller::check_journalctl_output(const std::string& text) {
  return text.empty() || text == "\n" || ends_with(text, "No entries --\n");
}

bool DriverInstaller::log_dmesg_after_time(time_t since, std::string& text) {
  if (!has_journalctl()) return false;
  struct tm tm;
  char when[32];
  if (!localtime_r(&since, &tm) || strftime(when, sizeof when, "%F %T", &tm) == 0) return false;
  std::string cmd = std::string("journalctl -kS '") + when + "' --no-pager -q 2>&1";
  std::string out;
  int status = 0;
  if (!exec(cmd, out, status, false)) return false;
  text = out;
  return !check_journalctl_output(out);
}

void DriverInstaller::log_dmesg(time_t since) {
  std::string text;
  if (!log_dmesg_after_time(since, text)) exec("dmesg | tail -n 25", text);
  zulogger::logger(INFO, "Kernel messages:\n%s\n", text.c_str());
}
