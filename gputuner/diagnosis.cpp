#include "diagnosis.h"

#include <cstdio>
#include <filesystem>

#include "host.h"

namespace {

// Relaxed ordering, 256-byte payload, extended tags and no-snoop in Device Control.
constexpr long kExtendBits = 0x930;

bool isPex89(const std::string& busId) {
    const std::string vendor = host::pciDeviceFile(busId, "vendor");
    const std::string device = host::pciDeviceFile(busId, "device");
    std::error_code ec;
    if (!std::filesystem::exists(vendor, ec) || !std::filesystem::exists(device, ec)) return false;
    return readFirstWord(vendor) == "0x1000" && readFirstWord(device) == "0xc030";
}

}  // namespace

void checkIommuState(BusIdSet set) {
    bool on = false;
    for (const auto& gpu : set) on = on || iommuState(gpu);
    std::printf("[IOMMU State]: %s\n\n", on ? "ON" : "OFF");
}

void checkPex89State(BusIdSet set) {
    if (set.empty()) return;
    bool found = false, synthetic = false, first = true;
    for (const auto& gpu : set) {
        int count = 0;
        for (const auto& busId : getTopologyBusIdSet(getRealpathByBusId(gpu))) count += isPex89(busId);
        if (count >= 1) found = true;
        if (count == 2) synthetic = true;
        // The lowest-numbered GPU decides whether there is a PEX89 switch to speak of.
        if (first && !found) return;
        first = false;
    }
    std::printf("[Broadcom Switch PEX89]: %s\n\n", synthetic ? "Synthetic Mode" : "Base Mode");
}

void checkSwitchACS(BusIdSet set, bool doSet, bool disable) {
    int downstreamPorts = 0;
    bool allOff = true;
    for (const auto& port : getPathUnion(set)) {
        if (getPortType(port) != '6') continue;
        ++downstreamPorts;
        const std::optional<long> capability = readRegister(port, "ecap_acs+4.b", false);
        if (!capability) continue;
        if (*capability == 0) {
            std::printf("[%s] ACS capabilities disable.\n", port.c_str());
            continue;
        }
        const std::optional<long> control = readRegister(port, "ecap_acs+6.b", false);
        if (!control) continue;
        if (!doSet) {
            if (*control != 0) {
                std::printf("[%s ACS]: ON \n", port.c_str());
                allOff = false;
            }
        } else if (!disable) {
            setpci(port, "ecap_acs+6.b=0x1d", false);
            allOff = false;
        } else {
            setpci(port, "ecap_acs+6.b=0x00", false);
        }
    }
    if (downstreamPorts > 0)
        std::printf("[ACS State]: %s\n\n", allOff ? "OFF" : "ON");
    else
        std::printf("[Switch State]: No PCIe Switch\n\n");
}

void checkPCIeExtend(BusIdSet set, bool doSet) {
    bool good = true;
    BusIdSet rootPorts;
    const auto writeExtend = [](const std::string& busId, long control) {
        setpci(busId, format("CAP_EXP+8.w=%lx", control | kExtendBits), true);
    };
    for (const auto& dev : getPathUnion(set)) {
        if (getPortType(dev) == '4') {
            rootPorts.insert(dev);
            continue;
        }
        const std::optional<long> cap = readRegister(dev, "CAP_EXP+4.w", true);
        if (!cap) continue;
        const std::optional<long> control = readRegister(dev, "CAP_EXP+8.w", true);
        if (!control) continue;
        const long p = *cap, c = *control;
        if (doSet) {
            writeExtend(dev, c);
            good = true;
            continue;
        }
        const auto finding = [&](const char* text, const char* value) {
            std::printf("[%s%s%s\n", dev.c_str(), text, value);
            good = false;
        };
        if ((p & 0x7) == 0) finding(" MaxPayloadSize Capabilities]: ", "128 bytes.");
        if ((p & 0x20) && !(c & 0x100)) finding(" ExtTag Control]: ", " disable.");
        if (((c >> 5) & 0x7) == 0) finding(" MaxPayloadSize Control]: ", " 128 bytes.");
        if (!(c & 0x10)) finding(" RlxdOrd Control]: ", " disable.");
        if (!(c & 0x800)) finding(" NoSnoop Control]: ", " disable.");
    }
    if (doSet) {
        for (const auto& root : rootPorts) {
            const std::optional<long> control = readRegister(root, "CAP_EXP+8.w", true);
            if (control) writeExtend(root, *control);
        }
    }
    std::printf("[PCIe Extend Capabilities]: %s\n\n", good ? "Enable" : "Disable");
}

void checkPCIeLink(BusIdSet set) {
    // Without lspci every link would look "Normal"; say so once instead.
    if (!host::programOnPath("lspci")) {
        printRedError("lspci not found, the PCIe links cannot be checked. Please install pciutils.\n");
        return;
    }
    bool downgraded = false;
    for (const auto& dev : getPathUnion(set)) {
        const std::string out = commandOutput(lspciDowngradedCommand(dev), 64);
        if (out.empty()) continue;
        std::printf("[%s] %s", dev.c_str(), linkReportText(out).c_str());
        downgraded = true;
    }
    std::printf("[PCIe Link Speed / Width]: %s\n\n", downgraded ? "Downgraded" : "Normal");
}
