// The GPU firmware check: finds the Quelvan GPUs in sysfs and reads their firmware version,
// configuration and variant registers through the BAR 2 resource file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the check learns about one GPU.
struct Chip {
  uint32_t model_code;      // bits 29..25 of the configuration word
  uint32_t sub_model_code;  // bits 2..0 of the configuration word
  uint32_t fw_version;      // major 31..24, minor 23..8, patch 7..0
  uint32_t variant_word;    // not 0 on customer boards
  uint32_t chip_type;       // 2 once the registers were read
  char fw_version_text[16];
  char driver_name[16];
  char device_path[32];
  int32_t status;  // -1 when a foreign driver holds the function
};

// Register offsets in resource2 and the minimum firmware word (1.0.9 and later pass).
inline constexpr uint32_t REG_FW_VERSION = 0x78A8;
inline constexpr uint32_t REG_CONFIG = 0x78C0;
inline constexpr uint32_t REG_VARIANT = 0x78F8;
inline constexpr uint32_t MIN_FW_VERSION = 0x1000008;

std::vector<std::string> get_devices();  // usable Quelvan GPUs, sysfs listing order
int getDeviceId(const std::string& address);  // -1 when the device file is not hexadecimal
bool openPciResources(const std::string& address);
uint8_t get_chip_info(const std::string& address, Chip& chip);  // 0 or 255
