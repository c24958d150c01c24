#include "fakehost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace fakehost {
namespace {

const Device* findDevice(const std::vector<Device>& devices, const std::string& busId) {
    for (const auto& d : devices)
        if (d.busId == busId) return &d;
    return nullptr;
}

// The bus byte of "dddd:bb:dd.f"; 0 for a text too short to hold one.
int busNumber(const std::string& busId) {
    return busId.size() >= 7 ? static_cast<int>(std::strtol(busId.substr(5, 2).c_str(), nullptr, 16)) : 0;
}

// Path of the device directory relative to DIR/devices, e.g. pci0000:3a/0000:3a:00.0/0000:3b:00.0.
std::string relativeDevicePath(const std::vector<Device>& devices, const Device& d) {
    std::string path = d.busId;
    const Device* cur = &d;
    for (int depth = 0; !cur->parent.empty() && depth < 64; ++depth) {
        const Device* up = findDevice(devices, cur->parent);
        if (!up) break;
        path = up->busId + "/" + path;
        cur = up;
    }
    return "pci" + cur->busId.substr(0, 7) + "/" + path;
}

// Highest bus number below a bridge, for its subordinate bus register.
int subordinateBus(const std::vector<Device>& devices, const Device& bridge) {
    int highest = busNumber(bridge.busId);
    for (const auto& d : devices)
        if (d.parent == bridge.busId) highest = std::max(highest, subordinateBus(devices, d));
    return highest;
}

void put(std::vector<uint8_t>& c, uint32_t offset, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) c[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> configBytes(const std::vector<Device>& devices, const Device& d) {
    std::vector<uint8_t> c(4096, 0);
    if (d.offline) return std::vector<uint8_t>(4096, 0xff);
    const bool bridge = d.role != Role::Endpoint;
    put(c, 0x00, d.vendor, 2);
    put(c, 0x02, d.device, 2);
    put(c, 0x04, d.command, 2);
    put(c, 0x06, 0x0010, 2);  // status: capability list present
    put(c, 0x08, (d.classCode << 8) | 0x01, 4);
    put(c, 0x0e, bridge ? 0x01 : 0x00, 1);
    if (bridge) {
        int secondary = 0xff;
        for (const auto& child : devices)
            if (child.parent == d.busId) secondary = std::min(secondary, busNumber(child.busId));
        if (secondary == 0xff) secondary = busNumber(d.busId) + 1;
        put(c, 0x18, busNumber(d.busId), 1);
        put(c, 0x19, secondary, 1);
        put(c, 0x1a, std::max(secondary, subordinateBus(devices, d)), 1);
    } else {
        put(c, 0x10, d.bar0 | 0xc, 8);  // 64-bit prefetchable memory BAR
    }
    put(c, 0x34, kPmCap, 1);
    // Power Management: version 3, next is the PCI Express capability.
    put(c, kPmCap + 0, 0x01, 1);
    put(c, kPmCap + 1, d.expressCap ? kExpCap : 0, 1);
    put(c, kPmCap + 2, 0x0003, 2);
    put(c, kPmCap + 4, d.pmControl, 2);
    if (!d.expressCap) return c;
    // PCI Express capability, version 2.
    put(c, kExpCap + 0x00, 0x10, 1);
    put(c, kExpCap + 0x02, 0x0002 | (static_cast<unsigned>(d.role) << 4), 2);
    put(c, kExpCap + 0x04, d.devCap, 4);
    put(c, kExpCap + 0x08, d.devCtl, 2);
    put(c, kExpCap + 0x0c, d.linkSpeedCap | (d.linkWidthCap << 4), 4);
    put(c, kExpCap + 0x12, d.linkSpeed | (d.linkWidth << 4), 2);
    put(c, kExpCap + 0x28, d.devCtl2, 2);
    put(c, kExpCap + 0x2c, ((1u << d.linkSpeedCap) - 1) << 1, 4);  // supported speeds vector
    put(c, kExpCap + 0x30, d.linkSpeedCap, 2);                      // target link speed
    if (d.acs) {
        put(c, kAcsCap + 0, 0x0001000d, 4);  // ACS, version 1, last extended capability
        put(c, kAcsCap + 4, d.acsCap, 1);
        put(c, kAcsCap + 6, d.acsCtl, 1);
    }
    return c;
}

bool writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

bool writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string hex(uint64_t value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return buf;
}

// The sysfs resource file: one "start end flags" line per BAR, ROM and bridge window.
std::string resourceText(const Device& d) {
    std::string text;
    const std::string zero = hex(0, 16) + " " + hex(0, 16) + " " + hex(0, 16) + "\n";
    for (int i = 0; i < 13; ++i) {
        if (d.role == Role::Endpoint && i == 0 && d.bar0) {
            text += hex(d.bar0, 16) + " " + hex(d.bar0 + 0xffffff, 16) + " " + hex(0x14220c, 16) + "\n";
        } else if (d.role == Role::Endpoint && i == 2 && d.resource2) {
            const uint64_t base = d.bar0 + 0x1000000;
            text += hex(base, 16) + " " + hex(base + d.resource2Size - 1, 16) + " " + hex(0x14220c, 16) + "\n";
        } else {
            text += zero;
        }
    }
    return text;
}

bool writeDevice(const fs::path& root, const std::vector<Device>& devices, const Device& d) {
    const fs::path dir = root / "devices" / relativeDevicePath(devices, d);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return false;
    bool ok = writeBytes(dir / "config", configBytes(devices, d));
    ok = ok && writeFile(dir / "vendor", hex(d.vendor, 4) + "\n");
    ok = ok && writeFile(dir / "device", hex(d.device, 4) + "\n");
    ok = ok && writeFile(dir / "class", hex(d.classCode, 6) + "\n");
    ok = ok && writeFile(dir / "irq", "0\n");
    ok = ok && writeFile(dir / "resource", resourceText(d));
    if (!d.numaNode.empty()) ok = ok && writeFile(dir / "numa_node", d.numaNode + "\n");
    if (!d.cpuList.empty()) ok = ok && writeFile(dir / "local_cpulist", d.cpuList + "\n");
    if (d.resource0) ok = ok && writeBytes(dir / "resource0", std::vector<uint8_t>(4096, 0));
    if (d.resource2) {
        std::vector<uint8_t> window(d.resource2Size, 0);
        for (const auto& [offset, word] : d.registers)
            if (offset + 4 <= window.size()) put(window, offset, word, 4);
        ok = ok && writeBytes(dir / "resource2", window);
    }
    for (const auto& [name, text] : d.files) ok = ok && writeFile(dir / name, text);
    if (d.iommu) {
        const fs::path iommu = root / "devices" / "virtual" / "iommu" / "dmar0";
        fs::create_directories(iommu, ec);
        fs::create_symlink(fs::relative(iommu, dir), dir / "iommu", ec);
        ok = ok && !ec;
    }
    if (!d.driver.empty()) {
        const fs::path driver = root / "bus" / "pci" / "drivers" / d.driver;
        fs::create_directories(driver, ec);
        fs::create_symlink(fs::relative(driver, dir), dir / "driver", ec);
        ok = ok && !ec;
    }
    // Bus-ID links relative, so they resolve to /sys/devices once both trees are bind-mounted.
    fs::create_symlink(fs::path("../../../devices") / relativeDevicePath(devices, d),
                       root / "bus" / "pci" / "devices" / d.busId, ec);
    return ok && !ec;
}

}  // namespace

Device rootPort(const std::string& busId, const std::string& numaNode) {
    Device d;
    d.busId = busId;
    d.role = Role::RootPort;
    d.device = 0x347a;
    d.numaNode = numaNode;
    return d;
}

Device switchPort(const std::string& busId, const std::string& parent, Role role, bool pex89) {
    Device d;
    d.busId = busId;
    d.parent = parent;
    d.role = role;
    d.vendor = pex89 ? 0x1000 : 0x10b5;
    d.device = pex89 ? 0xc030 : 0x8747;
    return d;
}

Device gpu(const std::string& busId, const std::string& parent, uint16_t deviceId, uint16_t vendor) {
    Device d;
    d.busId = busId;
    d.parent = parent;
    d.role = Role::Endpoint;
    d.vendor = vendor;
    d.device = deviceId;
    d.classCode = 0x120000;  // processing accelerator
    d.resource0 = d.resource2 = true;
    d.bar0 = 0x20000000000ull + (static_cast<uint64_t>(busNumber(busId)) << 28);
    return d;
}

std::string writeHost(const std::string& dir, const std::vector<Device>& devices) {
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "bus" / "pci" / "devices", ec);
    fs::create_directories(fs::path(dir) / "bus" / "pci" / "drivers", ec);
    if (ec) {
        std::fprintf(stderr, "fakehost: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return "";
    }
    for (const auto& d : devices) {
        if (!writeDevice(dir, devices, d)) {
            std::fprintf(stderr, "fakehost: cannot write device %s below %s\n", d.busId.c_str(), dir.c_str());
            return "";
        }
    }
    return dir;
}

std::string devicePath(const std::string& dir, const std::vector<Device>& devices, const std::string& busId) {
    const Device* d = findDevice(devices, busId);
    return d ? dir + "/devices/" + relativeDevicePath(devices, *d) : "";
}

std::string configPath(const std::string& dir, const std::vector<Device>& devices, const std::string& busId) {
    const std::string path = devicePath(dir, devices, busId);
    return path.empty() ? "" : path + "/config";
}

long readConfig(const std::string& configFile, uint32_t offset, int width) {
    if (width < 1 || width > 4) return -1;
    std::ifstream in(configFile, std::ios::binary);
    uint8_t bytes[4] = {};
    if (!in.seekg(offset) || !in.read(reinterpret_cast<char*>(bytes), width)) return -1;
    long value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

std::vector<Device> demoHost() {
    // Board registers of the device IDs used here (configuration register first).
    struct Gpu { const char* busId; uint16_t deviceId; uint32_t configOffset, config; };
    const Gpu gpus[] = {
        {"0000:3d:00.0", 0x0001, 0x80a0, 0x00000004},  // sub-model 4
        {"0000:3e:00.0", 0x0001, 0x80a0, 0x00000004},
        {"0000:3f:00.0", 0x0003, 0x78c0, 3u << 25},    // model 3
        {"0000:40:00.0", 0x0003, 0x78c0, 3u << 25},
        {"0000:60:00.0", 0x0210, 0x72c0, 1u << 24},    // model flag 1
        {"0000:61:00.0", 0x0210, 0x72c0, 1u << 24},
        {"0000:62:00.0", 0x0002, 0x78c0, 1u << 25},    // model 1
        {"0000:63:00.0", 0x0002, 0x78c0, 1u << 25},
    };
    std::vector<Device> host;
    host.push_back(rootPort("0000:3a:00.0", "0"));
    host.push_back(rootPort("0000:5d:00.0", "1"));
    host[0].cpuList = "0-23,48-71";
    host[1].cpuList = "24-47,72-95";
    host.push_back(switchPort("0000:3b:00.0", "0000:3a:00.0", Role::UpstreamPort, true));
    host.push_back(switchPort("0000:5e:00.0", "0000:5d:00.0", Role::UpstreamPort, true));
    const char* downs[] = {"0000:3c:00.0", "0000:3c:08.0", "0000:3c:10.0", "0000:3c:18.0",
                           "0000:5f:00.0", "0000:5f:08.0", "0000:5f:10.0", "0000:5f:18.0"};
    for (int i = 0; i < 8; ++i) {
        Device d = switchPort(downs[i], i < 4 ? "0000:3b:00.0" : "0000:5e:00.0", Role::DownstreamPort, true);
        d.acs = true;
        d.acsCtl = 0x1d;
        d.devCtl = 0x2930;  // ports already tuned
        host.push_back(d);
    }
    for (int i = 0; i < 8; ++i) {
        Device g = gpu(gpus[i].busId, downs[i], gpus[i].deviceId);
        g.registers[gpus[i].configOffset] = gpus[i].config;
        g.numaNode = i < 4 ? "0" : "1";
        g.cpuList = i < 4 ? "0-23,48-71" : "24-47,72-95";
        g.iommu = true;
        if (i == 1) g.linkSpeed = 1;  // trained at 2.5GT/s instead of 16GT/s
        if (i >= 4) {                  // the second switch's GPUs are already tuned
            g.devCtl = 0x2930;
            g.devCtl2 = 0x10;
        }
        if (i >= 6) g.registers[0x78f8] = 5;  // variant word
        host.push_back(g);
    }
    host[2].devCtl = host[3].devCtl = 0x2930;
    return host;
}

}  // namespace fakehost
