// Firmware installation and the firmware check of the GPUs after the driver was loaded.
#include "installer/driver/firmware.h"

#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/process_state.h"

#ifndef QUELVAN_VENDOR_ID
#error "QUELVAN_VENDOR_ID must be defined by the build"
#endif


static const std::string pci_devices = "/sys/bus/pci/devices/";

// Reads the first whitespace-delimited token of a sysfs file as a hexadecimal number ("0x"
// accepted). False when the file cannot be read or the token is not entirely hexadecimal.
static bool read_hex(const std::string& file, long& value) {
  std::string text;
  if (!cachedFile(file, text)) return false;
  size_t start = text.find_first_not_of(" \t\n\r");
  if (start == std::string::npos) return false;
  std::string token = text.substr(start, text.find_first_of(" \t\n\r", start) - start);
  char* end = nullptr;
  errno = 0;
  value = strtol(token.c_str(), &end, 16);
  return errno == 0 && end != token.c_str() && *end == '\0';
}

std::vector<std::string> get_devices() {
  std::vector<std::string> out;
  const std::string dir = host::path(pci_devices);
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string vendor_file = dir + name + "/vendor";
    if (!isFileExists(vendor_file) || !isFileExists(dir + name + "/device")) continue;
    long vendor = 0;
    if (!read_hex(vendor_file, vendor)) {
      zulogger::logger(WARNING, "Skip device %s: its vendor file holds no hexadecimal number.\n",
                       name.c_str());
      continue;
    }
    if (vendor != QUELVAN_VENDOR_ID) continue;
    if (system(("setpci -s " + shell_quote(name) + " CAP_EXP+4.w >/dev/null 2>&1").c_str()) != 0) {
      zulogger::logger(FATAL, "Device %s is offline...\n", name.c_str());
      continue;
    }
    out.push_back(name);
  }
  closedir(d);
  return out;
}

int getDeviceId(const std::string& address) {
  long id = 0;
  if (!read_hex(host::path(pci_devices + address + "/device"), id)) {
    zulogger::logger(WARNING, "Skip device %s: its device file holds no hexadecimal number.\n",
                     address.c_str());
    return -1;
  }
  return static_cast<int>(id);
}

bool openPciResources(const std::string& address) {
  std::string file = host::path(pci_devices + address + "/resource2");
  if (isFileExists(file)) process_state.register_fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
  if (process_state.register_fd < 0) {
    zulogger::logger(FATAL, "Error: [%s]Device not enough address space. \n", address.c_str());
    return false;
  }
  return true;
}

static void close_registers() {
  if (process_state.register_fd >= 0) close(process_state.register_fd);
  process_state.register_fd = -1;
}

static uint32_t read_register(const void* base, uint32_t offset) {
  uint32_t v;
  memcpy(&v, static_cast<const char*>(base) + offset, sizeof v);
  return le32toh(v);
}

uint8_t get_chip_info(const std::string& address, Chip& chip) {
  chip = Chip{};
  const std::string device_path = pci_devices + address;
  snprintf(chip.device_path, sizeof chip.device_path, "%s", device_path.c_str());
  if (getDeviceId(address) != 2) return 0;

  std::string driver_link = host::path(device_path + "/driver");
  if (isSymlink(driver_link) || isFileExists(driver_link)) {
    std::string driver = zu_basename(getRealPath(driver_link));
    snprintf(chip.driver_name, sizeof chip.driver_name, "%s", driver.c_str());
    if (driver != "quelvan" && driver != "aq_driver") {
      zulogger::logger(INFO, "%s is hold by %s skip check then\n", device_path.c_str(), driver.c_str());
      chip.status = -1;
      return 0;
    }
  }
  if (!openPciResources(address)) return 255;

  struct stat st;
  void* regs = MAP_FAILED;
  if (fstat(process_state.register_fd, &st) == 0)
    regs = mmap(nullptr, st.st_size, PROT_READ, MAP_SHARED, process_state.register_fd, 0);
  if (regs == MAP_FAILED) {
    zulogger::logger(ERROR, "Map device register failed. %s\n", strerror(errno));
    close_registers();
    return 255;
  }
  // A region too small to hold the registers would fault on the read below.
  if (st.st_size < static_cast<off_t>(REG_VARIANT + 4)) {
    zulogger::logger(ERROR, "Map device register failed. %s holds %ld bytes, too few for the "
                     "registers.\n", device_path.c_str(), static_cast<long>(st.st_size));
    munmap(regs, st.st_size);
    close_registers();
    return 255;
  }
  uint32_t version = read_register(regs, REG_FW_VERSION);
  uint32_t config_word = read_register(regs, REG_CONFIG);
  chip.chip_type = 2;
  chip.variant_word = read_register(regs, REG_VARIANT);
  chip.sub_model_code = config_word & 7;
  chip.model_code = (config_word >> 25) & 0x1F;
  chip.fw_version = version;
  snprintf(chip.fw_version_text, sizeof chip.fw_version_text, "%d.%d.%d", version >> 24,
           (version >> 8) & 0xFFFF, version & 0xFF);
  munmap(regs, st.st_size);
  zulogger::logger(INFO, "%s:%s %x %x %x %x %s %s\n", device_path.c_str(), chip.fw_version_text,
                   chip.fw_version, chip.chip_type, chip.sub_model_code, chip.model_code,
                   chip.device_path, chip.driver_name);
  close_registers();
  return 0;
}

bool DriverInstaller::do_check_firmware() {
  std::vector<std::string> devices = get_devices();
  if (devices.empty()) {
    zulogger::logger(WARNING, "No Quelvan Ostrel GPU found.\n");
    return true;
  }
  std::vector<Chip> chips;
  for (const auto& address : devices) {
    Chip chip;
    uint8_t r = get_chip_info(address, chip);
    if (r != 0) {
      zulogger::logger(WARNING, "get info for %s failed. %d\n", address.c_str(), r);
      continue;
    }
    zulogger::logger(INFO, "get info for %s succeed\n", address.c_str());
    chips.push_back(chip);
  }
  int examined = 0, passed = 0;
  for (const auto& chip : chips) {
    const char* path = chip.device_path;
    if (chip.status != 0) {
      zulogger::logger(INFO, "skip for %s: chip.status %d\n", path, chip.status);
      continue;
    }
    if (chip.chip_type != 2) {
      zulogger::logger(INFO, "skip non-LN %s chip check\n", path);
      continue;
    }
    if (chip.variant_word != 0) {
      zulogger::logger(INFO, "skip customer's chip check %s\n", path);
      continue;
    }
    if (chip.model_code > 1) continue;
    ++examined;
    if (chip.fw_version > MIN_FW_VERSION) {
      zulogger::logger(INFO, "For %s check firmware passed.\n", path);
      ++passed;
    } else {
      zulogger::logger(WARNING, "For %s Please upgrade your firmware to be >= %d.%d.%d (current: drv: %s fw:%d.%d.%d)\n",
                       path, 1, 0, 9, driver_version.c_str(), chip.fw_version >> 24,
                       (chip.fw_version >> 8) & 0xFFFF, chip.fw_version & 0xFF);
    }
  }
  return examined == 0 || passed > 0;
}

uint8_t DriverInstaller::install_fw() {
  zulogger::logger(INFO, "Start to install firmwares.\n");
  const std::string lib = host::path("/lib");
  const std::string fw_dir = lib + "/firmware";
  bool existed = isDirExists(fw_dir);
  if (!existed) createDir(fw_dir);
  std::string out;
  int status = 0;
  if (!exec("cp -fr firmware " + shell_quote(lib), out, status)) {
    zulogger::logger(ERROR, "Failed to install firmware.\n%s\n", code_banner(CODE_FIRMWARE_INSTALL).c_str());
    return CODE_FIRMWARE_INSTALL;
  }
  std::vector<FileInfo> records = recursiveDir("firmware", lib);
  if (existed) {
    // The directory was there before us: an uninstallation must not remove it.
    for (auto it = records.begin(); it != records.end(); ++it) {
      if (it->type == "DIR" && it->path == fw_dir) {
        records.erase(it);
        break;
      }
    }
  }
  installed.insert(installed.end(), records.begin(), records.end());
  return CODE_SUCCESS;
}
