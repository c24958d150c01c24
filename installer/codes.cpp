#include "installer/codes.h"

const std::map<unsigned, std::string> code_error_table = {
    {1, "User rejected the EULA."},
    {4, "EULA file not found."},
    {5, "Unknown error."},
    {6, "Failed to create a child process."},
    {7, "Permission denied."},
    {9, "Generation key failed."},
    {10, "Driver package not found."},
    {11, "CUDA header file not found."},
    {12, "Skip the step."},
    {13, "Failed to create temporary file."},
    {15, "Toolblx package not found."},
    {30, "Driver installation is currently in Docker."},
    {31, "GCC version mismatch."},
    {32, "Kernel source is not ready."},
    {33, "Missing dependencies."},
    {34, "Driver module compilation failed."},
    {35, "Driver module installation failed."},
    {36, "Failed to install firmware."},
    {37, "Manifest parsing failed."},
    {38, "Kernel source version mismatch."},
    {39, "File copy operation failed."},
    {40, "Failed to change directory to CUDA path."},
    {43, "Driver is currently busy."},
    {44, "Driver installed but not referenced."},
    {45, "DKMS driver compilation failed."},
    {46, "Replace dkms params failed."},
    {47, "Failed to create directory."},
    {48, "Install path or key path cannot be used."},
    {49, "Module insertion failed."},
    {50, "failed to sign module file."},
    {51, "Failed to insert kernel module."},
    {52, "DKMS driver installation failed."},
    {53, "Dependency module execution failed."},
    {54, "Firmware version check failed."},
    {55, "Failed to write the uninstall manifest."},
    {70, "Toolkit file not found."},
    {71, "Toolkit directory not found."},
    {72, "Failed to execute command for toolkit installation."},
    {74, "Insufficient disk space."},
    {77, "Sign module failed."},
    {78, "Service quelvanostrel-init@.service not found."},
    {79, "Base image not found."},
    {83, "Failed to install quelvanostrel-init.service."},
    {100, "Docker service is not active."},
    {101, "Base image may not have loaded."},
    {102, "Docker build process failed."},
    {103, "Nerdctl tool is installed but buildkitd failed to find."},
    {120, "CUDA header file not found."},
    {121, "CUDA installation failed."},
    {127, "Driver installer invocation failed."},
    {140, "Failed to remove DKMS."},
    {141, "Failed to remove configuration."},
    {142, "Failed to uninstall driver using rmmod."},
    {143, "Failed to remove link file."},
    {144, "Failed to remove read-only link file."},
    {145, "Failed to remove service."},
    {146, "DKMS is not installed."},
};

std::string code_message(uint8_t code) {
  auto it = code_error_table.find(code);
  return it == code_error_table.end() ? "unknown error" : it->second;
}

std::string code_banner(uint8_t code) {
  const std::string dashes(34, '-');
  return dashes + "  ERROR CODE (" + std::to_string(code) + ")  " + dashes;
}
