// Result codes of the installer: 8-bit values, 0 for success, 12 for a skipped step, every other
// value with a fixed message in code_error_table.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// Version of the product stack; the versioned install directory is "ostrel-" + ostrel_version.
inline constexpr const char* ostrel_version = "4.3.0";

// Named codes for the values the installer returns; the table below holds their messages.
enum : uint8_t {
  CODE_SUCCESS = 0,
  CODE_EULA_REJECTED = 1,
  CODE_EULA_NOT_FOUND = 4,
  CODE_UNKNOWN = 5,
  CODE_CHILD_PROCESS = 6,
  CODE_PERMISSION_DENIED = 7,
  CODE_KEY_GENERATION = 9,
  CODE_DRIVER_PACKAGE_NOT_FOUND = 10,
  CODE_CUDA_HEADER_NOT_FOUND = 11,
  CODE_SKIP = 12,
  CODE_TMPFILE = 13,
  CODE_TOOLBOX_PACKAGE_NOT_FOUND = 15,
  CODE_IN_DOCKER = 30,
  CODE_GCC_MISMATCH = 31,
  CODE_KERNEL_SOURCE_NOT_READY = 32,
  CODE_MISSING_DEPENDENCIES = 33,
  CODE_MODULE_COMPILE = 34,
  CODE_MODULE_INSTALL = 35,
  CODE_FIRMWARE_INSTALL = 36,
  CODE_MANIFEST_PARSE = 37,
  CODE_KERNEL_SOURCE_MISMATCH = 38,
  CODE_FILE_COPY = 39,
  CODE_CHDIR_CUDA = 40,
  CODE_DRIVER_BUSY = 43,
  CODE_DRIVER_NOT_REFERENCED = 44,
  CODE_DKMS_BUILD = 45,
  CODE_DKMS_PARAMS = 46,
  CODE_CREATE_DIR = 47,
  CODE_UNUSABLE_PATH = 48,
  CODE_MODULE_INSERTION = 49,
  CODE_SIGN_MODULE_FILE = 50,
  CODE_INSERT_KERNEL_MODULE = 51,
  CODE_DKMS_INSTALL = 52,
  CODE_DEPENDENCY_MODULE = 53,
  CODE_FIRMWARE_VERSION = 54,
  CODE_MANIFEST_WRITE = 55,
  CODE_TOOLKIT_FILE_NOT_FOUND = 70,
  CODE_TOOLKIT_DIR = 71,
  CODE_TOOLKIT_COMMAND = 72,
  CODE_NO_SPACE = 74,
  CODE_SIGN_MODULE = 77,
  CODE_SERVICE_NOT_FOUND = 78,
  CODE_BASE_IMAGE_NOT_FOUND = 79,
  CODE_SERVICE_INSTALL = 83,
  CODE_DOCKER_INACTIVE = 100,
  CODE_BASE_IMAGE_NOT_LOADED = 101,
  CODE_DOCKER_BUILD = 102,
  CODE_BUILDKITD = 103,
  CODE_CUDA_HEADER_NOT_FOUND_2 = 120,
  CODE_CUDA_INSTALL = 121,
  CODE_DRIVER_INSTALLER_INVOCATION = 127,
  CODE_REMOVE_DKMS = 140,
  CODE_REMOVE_CONFIG = 141,
  CODE_RMMOD = 142,
  CODE_REMOVE_LINK = 143,
  CODE_REMOVE_RO_LINK = 144,
  CODE_REMOVE_SERVICE = 145,
  CODE_DKMS_NOT_INSTALLED = 146,
};

// Every code with its message; built once, never changed. 0 has no entry.
extern const std::map<unsigned, std::string> code_error_table;

// The message of a code, or "unknown error" when the table has no entry.
std::string code_message(uint8_t code);

// The error banner of a code: 34 "-", two blanks, "ERROR CODE (n)", two blanks, 34 "-".
std::string code_banner(uint8_t code);
