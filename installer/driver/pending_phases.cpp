// Placeholders for the phases whose steps are not part of this build yet.
#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/logger.h"

uint8_t DriverInstaller::PreInstallation() {
  zulogger::logger(ERROR, "Pre-installation checks are not available in this build.\n%s\n",
                   code_banner(CODE_UNKNOWN).c_str());
  return CODE_UNKNOWN;
}

uint8_t DriverInstaller::StartInstallation() {
  zulogger::logger(ERROR, "Driver build is not available in this build.\n%s\n",
                   code_banner(CODE_UNKNOWN).c_str());
  return CODE_UNKNOWN;
}
