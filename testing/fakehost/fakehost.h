// Fake PCI hosts: a directory that looks like the PCI part of sysfs, so the real setpci and
// lspci can read and write it once it is bind-mounted over /sys/bus/pci and /sys/devices.
//
// A host is a plain list of device records; writeHost() turns them into
//   DIR/devices/pciDDDD:BB/<root port>/<switch up>/<switch down>/<gpu>/{config,vendor,...}
//   DIR/bus/pci/devices/<bus id> -> ../../../devices/...
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fakehost {

// PCI Express Device/Port Type written into the PCI Express capability.
enum class Role : uint8_t {
    Endpoint = 0x0,
    RootPort = 0x4,
    UpstreamPort = 0x5,
    DownstreamPort = 0x6,
    PciBridge = 0x7,  // PCIe-to-PCI bridge: a role the tuner does not know
};

struct Device {
    std::string busId;   // "0000:3b:00.0"
    std::string parent;  // bus ID of the bridge above; empty: directly under the PCI root
    Role role = Role::Endpoint;
    uint16_t vendor = 0x8086;
    uint16_t device = 0x0001;
    uint32_t classCode = 0x060400;     // 24-bit class code; bridges 0x060400
    std::string numaNode = "0";        // content of numa_node; empty: no file
    std::string cpuList = "0-7";       // content of local_cpulist; empty: no file
    bool iommu = false;                // iommu link to an IOMMU device
    bool offline = false;              // the whole config space reads 0xff
    bool resource0 = false;            // endpoints: resource0 file present
    bool resource2 = false;            // endpoints: resource2 file present
    uint32_t resource2Size = 0x10000;  // size of resource2 in bytes
    std::map<uint32_t, uint32_t> registers;  // 32-bit little-endian words in resource2
    uint64_t bar0 = 0;                 // BAR0 base written into config (64-bit memory BAR)
    uint16_t command = 0x0000;         // PCI Command register
    uint16_t pmControl = 0x0003;       // PM control/status (D3hot)
    bool expressCap = true;            // false: no PCI Express capability (nor extended ones)
    uint32_t devCap = 0x00000021;      // Device Capabilities: 256B payload, extended tags
    uint16_t devCtl = 0x2810;          // Device Control
    uint16_t devCtl2 = 0x0000;         // Device Control 2
    bool acs = false;                  // ACS extended capability at 0x100
    uint8_t acsCap = 0x1f;             // ACS Capability low byte
    uint8_t acsCtl = 0x00;             // ACS Control low byte
    int linkSpeedCap = 4, linkWidthCap = 16;  // Link Capabilities (4 = 16GT/s)
    int linkSpeed = 4, linkWidth = 16;        // Link Status; below the cap: "(downgraded)"
    std::string driver;                // non-empty: driver link to bus/pci/drivers/<name>
    std::map<std::string, std::string> files;  // extra files in the device directory
};

// Record builders for the usual pieces of a host.
Device rootPort(const std::string& busId, const std::string& numaNode = "0");
Device switchPort(const std::string& busId, const std::string& parent, Role role, bool pex89 = false);
Device gpu(const std::string& busId, const std::string& parent, uint16_t deviceId,
           uint16_t vendor = 0x7a5c);

// Offsets of the capabilities inside the config files written by writeHost().
constexpr uint32_t kPmCap = 0x40;
constexpr uint32_t kExpCap = 0x50;
constexpr uint32_t kAcsCap = 0x100;

// Writes the host below dir (created if needed) and returns dir, or "" after printing why
// it could not.
std::string writeHost(const std::string& dir, const std::vector<Device>& devices);

// Where a device's directory and config file lie inside a written host.
std::string devicePath(const std::string& dir, const std::vector<Device>& devices, const std::string& busId);
std::string configPath(const std::string& dir, const std::vector<Device>& devices, const std::string& busId);

// Reads `width` bytes (1, 2 or 4) little-endian at `offset` of a config file; -1 on failure.
long readConfig(const std::string& configFile, uint32_t offset, int width);

// The README demo: 8 GPUs behind two Broadcom PEX89 switches on two root ports, IOMMU and ACS
// on, one GPU link downgraded.
std::vector<Device> demoHost();

}  // namespace fakehost
