#include "host.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace host {

std::string sysfsRoot = "/sys";

std::string pciDevicesDir() { return sysfsRoot + "/bus/pci/devices/"; }

std::string pciDeviceFile(const std::string& busId, const std::string& file) {
    return pciDevicesDir() + busId + "/" + file;
}

std::string devicesDir() { return sysfsRoot + "/devices/"; }

FILE* openCommand(const std::string& cmd) { return popen(cmd.c_str(), "r"); }

int closeCommand(FILE* pipe) { return pclose(pipe); }

bool programOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (true) {
        const size_t colon = dirs.find(':');
        const std::string dir(dirs.substr(0, colon));
        if (access(((dir.empty() ? "." : dir) + "/" + name).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        dirs.remove_prefix(colon + 1);
    }
}

bool isRoot() { return geteuid() == 0; }

}  // namespace host
