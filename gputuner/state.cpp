#include "state.h"

#include "diagnosis.h"
#include "host.h"

namespace {

std::string roleName(char portType) {
    switch (portType) {
    case '0': return "endpoint";
    case '4': return "root_port";
    case '5': return "upstream_port";
    case '6': return "downstream_port";
    default: return "other";
    }
}

// Link speed encodings of the Link Capabilities and Link Status registers.
std::optional<double> speedGTs(long code) {
    static constexpr double kSpeeds[] = {2.5, 5, 8, 16, 32, 64};
    if (code < 1 || code > 6) return std::nullopt;
    return kSpeeds[code - 1];
}

std::optional<int> numaNode(const std::string& busId) {
    const std::string word = readFirstWord(host::pciDeviceFile(busId, "numa_node"));
    if (word.empty() || word == "-1") return std::nullopt;
    try {
        return std::stoi(word);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<bool> LinkState::atCapability() const {
    if (!speed || !maxSpeed || !width || !maxWidth) return std::nullopt;
    return *speed >= *maxSpeed && *width >= *maxWidth;
}

std::string linkText(const std::optional<double>& speed, const std::optional<int>& width) {
    const std::string s = speed ? format("%gGT/s", *speed) : "?";
    return s + " x" + (width ? std::to_string(*width) : "?");
}

DeviceState readDeviceState(const std::string& busId) {
    DeviceState d;
    d.busId = busId;
    d.role = roleName(getPortType(busId));
    d.pex89 = isPex89(busId);
    if (const auto cap = probeRegister(busId, "CAP_EXP+0c.l")) {
        d.link.maxSpeed = speedGTs(*cap & 0xf);
        d.link.maxWidth = static_cast<int>((*cap >> 4) & 0x3f);
    }
    if (const auto sta = probeRegister(busId, "CAP_EXP+12.w")) {
        d.link.speed = speedGTs(*sta & 0xf);
        d.link.width = static_cast<int>((*sta >> 4) & 0x3f);
    }
    if (const auto cap = probeRegister(busId, "CAP_EXP+4.w")) {
        d.mpsSupportedBytes = 128 << (*cap & 0x7);
        d.extTagSupported = (*cap & 0x20) != 0;
    }
    if (const auto ctl = probeRegister(busId, "CAP_EXP+8.w")) {
        d.mpsBytes = 128 << ((*ctl >> 5) & 0x7);
        d.mrrsBytes = 128 << ((*ctl >> 12) & 0x7);
        d.extTag = (*ctl & 0x100) != 0;
        d.relaxedOrdering = (*ctl & 0x10) != 0;
        d.noSnoop = (*ctl & 0x800) != 0;
    }
    if (d.role == "downstream_port") {
        const auto cap = probeRegister(busId, "ecap_acs+4.b");
        const auto ctl = probeRegister(busId, "ecap_acs+6.b");
        if (cap && *cap != 0 && ctl) d.acs = *ctl != 0;
    }
    return d;
}

HostState readHostState(const BusIdSet& gpus, const std::vector<std::pair<std::string, std::string>>& products) {
    HostState state;
    const std::optional<bool> synthetic = pex89Synthetic(gpus);
    if (synthetic) state.pex89Mode = *synthetic ? "synthetic" : "base";
    for (const auto& busId : gpus) {
        GpuState g;
        g.busId = busId;
        for (const auto& [id, name] : products)
            if (id == busId) g.product = name;
        g.numaNode = numaNode(busId);
        const std::string cpus = getLocalCPUList(busId);
        if (cpus != "x") g.cpuList = cpus;
        g.iommu = iommuState(busId);
        if (const auto ctl2 = probeRegister(busId, "CAP_EXP+0X28.b")) g.completionTimeoutDisabled = (*ctl2 & 0x10) != 0;
        g.device = readDeviceState(busId);
        // Ports from the GPU's parent up to the root port, as the sysfs path nests them.
        const std::vector<std::string> pieces = split(removeRealpathPrefix(getRealpathByBusId(busId)), '/');
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it)
            if (!it->empty() && *it != busId) g.path.push_back(readDeviceState(*it));
        state.gpus.push_back(std::move(g));
    }
    return state;
}
