// The tuner's only contact with the host: sysfs paths, the programs it starts, the user ID.
// Kept in one place so tests can point the sysfs root at a fixture tree; the program itself
// always uses the real paths.
#pragma once

#include <cstdio>
#include <string>

namespace host {

// Root of sysfs, "/sys" unless a test redirects it.
extern std::string sysfsRoot;

std::string pciDevicesDir();                         // <root>/bus/pci/devices/
std::string pciDeviceFile(const std::string& busId,  // <root>/bus/pci/devices/<busId>/<file>
                          const std::string& file);
std::string devicesDir();                            // <root>/devices/

FILE* openCommand(const std::string& cmd);  // popen in read mode, through the shell
int closeCommand(FILE* pipe);               // pclose

bool programOnPath(const std::string& name);
bool isRoot();

}  // namespace host
