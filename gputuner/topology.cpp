#include "topology.h"

#include <cstdio>
#include <filesystem>

#include "host.h"

namespace fs = std::filesystem;

namespace {

std::string lastComponent(const std::string& path) { return fs::path(path).filename().string(); }

// 0000:3b:00.0 is shown as 3b:00.0.
std::string shortAddress(const std::string& busId) { return busId.size() > 5 ? busId.substr(5) : busId; }

std::string blanks(size_t n) { return std::string(n, ' '); }

const char* const kLegend[] = {
    "Legend:",
    "  NUMA      : Non-Uniform Memory Access node.",
    "  Root Port : Located in the Root Complex and serves as the starting point of the bus topology.",
    "  Switch    : Contains one upstream port and one downstream port. The displayed busID corresponds to the upstream port.",
    "  Up Port   : PCIe switch upstream port.",
    "  Down Port : PCIe switch downstream port.",
    "  GPU       : ZU GPU.",
    "",
};

}  // namespace

bool showTopo(BusIdSet set, const std::string& levelText) {
    const int level = levelText == "v" ? 1 : levelText == "vv" ? 2 : levelText == "vvv" ? 3 : 0;
    if (level == 0) {
        std::printf("请指定正确的拓扑等级...\n");
        return false;
    }
    const BusIdSet all = getPathUnion(set);
    BusIdSet shown;
    for (const auto& gpu : set) {
        const std::string path = getRealpathByBusId(gpu);
        if (path.empty()) {
            printRedError("[" + gpu + "]: Not found in sysfs, left out of the topology.\n");
            continue;
        }
        if (removeRealpathPrefix(path).empty()) {
            printRedError("[" + gpu + "]: Unexpected sysfs path " + path + ", left out of the topology.\n");
            continue;
        }
        const std::string line = devicePathRecursiveTraversal(path, "", all, shown, level);
        std::printf("%s\n", line.c_str());
        std::printf("%s\n", printBlankLine(line).c_str());
        shown.merge(getTopologyBusIdSet(path));
    }
    for (const char* text : kLegend) std::printf("%s\n", text);
    return true;
}

std::string devicePathRecursiveTraversal(const std::string& path, const std::string& accumulated, BusIdSet all,
                                         BusIdSet shown, int level) {
    std::error_code ec;
    if (!fs::is_directory(path, ec)) return "";
    const fs::path p(path);
    // Stop at the PCI root, and at "/" should a path not lie under one.
    if (p.filename().string().find("pci") != std::string::npos || p == p.parent_path()) return accumulated;
    return devicePathRecursiveTraversal(p.parent_path().string(), getTopologyStr(path, all, shown, level) + accumulated,
                                        all, shown, level);
}

std::string getTopologyStr(const std::string& path, BusIdSet all, BusIdSet shown, int level) {
    switch (getPortType(lastComponent(path))) {
    case '0': return getGPUString(path, level);
    case '4': return getRootPortString(path, level, all, shown);
    case '5': return getUpstreamPortString(path, level, all, shown);
    case '6': return getDownstreamPortString(path, level, all, shown);
    default: return " -- [ERR]";
    }
}

std::string getRootPortString(const std::string& path, int level, BusIdSet, BusIdSet shown) {
    const std::string busId = lastComponent(path);
    const bool isShown = shown.count(busId) != 0;
    const std::string word = readFirstWord(host::pciDeviceFile(busId, "numa_node"));
    const std::string numa = word.empty() || word == "-1" ? "X" : word;
    const std::string head = "[NUMA " + numa + "] -- [Root Port]";
    switch (level) {
    case 1: return isShown ? blanks(27) : head + " -- ";
    case 2: return isShown ? blanks(35) : head + " " + shortAddress(busId) + " -- ";
    case 3: return isShown ? blanks(31) : head + " " + shortAddress(busId);
    default: return "Root Port string error!";
    }
}

std::string getUpstreamPortString(const std::string& path, int level, BusIdSet, BusIdSet shown) {
    const std::string busId = lastComponent(path);
    const bool isShown = shown.count(busId) != 0;
    switch (level) {
    case 1: return isShown ? blanks(8) : "[SWITCH]";
    case 2: return isShown ? blanks(16) : "[SWITCH] " + shortAddress(busId);
    case 3: return isShown ? blanks(21) : " -- [Up Port] " + shortAddress(busId);
    default: return "Upstream Port string error!";
    }
}

std::string getDownstreamPortString(const std::string& path, int level, BusIdSet all, BusIdSet shown) {
    const std::string busId = lastComponent(path);
    const bool isShown = shown.count(busId) != 0;
    const std::string connector = getDownstreamPortLinkString(path, all, isShown);
    switch (level) {
    case 1:
    case 2: return connector;
    case 3: return connector + (isShown ? blanks(19) : "[Down Port] " + shortAddress(busId));
    default: return "Downstream Port string error!";
    }
}

std::string getDownstreamPortLinkString(const std::string& path, BusIdSet all, bool alreadyShown) {
    const BusIdSet siblings = getUpstreamPortTopoBusIdSet(fs::path(path).parent_path().string(), all);
    if (siblings.empty()) return " Err ";
    if (siblings.size() == 1) return alreadyShown ? "    " : " -- ";
    if (lastComponent(path) == *siblings.rbegin()) return alreadyShown ? "    " : " \\- ";
    return alreadyShown ? " |  " : " +- ";
}

std::string getGPUString(const std::string& path, int level) {
    const std::string busId = lastComponent(path);
    switch (level) {
    case 1: return "[GPU]";
    case 2: return "[GPU] " + shortAddress(busId);
    case 3: return " -- [GPU] " + shortAddress(busId);
    default: return "GPU string error!";
    }
}

std::string printBlankLine(const std::string& line) {
    std::string blank = line;
    for (char& c : blank) c = (c == '+' || c == '|') ? '|' : ' ';
    return blank;
}

BusIdSet getUpstreamPortTopoBusIdSet(const std::string& upstreamPath, BusIdSet all) {
    BusIdSet siblings;
    std::error_code ec;
    for (fs::directory_iterator it(upstreamPath, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        const std::string name = it->path().filename().string();
        if (it->is_directory(typeEc) && all.count(name)) siblings.insert(name);
    }
    return siblings;
}
