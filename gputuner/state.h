// What the tuner finds on a host, as plain records: per GPU its identity, link, device-control
// settings and the ports above it. Read only (setpci reads and sysfs), so the health check and
// the JSON documents can be built from it without touching PCI configuration.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device_access.h"

// Link Capabilities against Link Status; speeds in GT/s.
struct LinkState {
    std::optional<double> speed, maxSpeed;
    std::optional<int> width, maxWidth;
    // Null when the registers could not be read.
    std::optional<bool> atCapability() const;
};

// Device-control state of one PCI Express function (GPU or port).
struct DeviceState {
    std::string busId;
    std::string role;  // "endpoint", "root_port", "upstream_port", "downstream_port", "other"
    LinkState link;
    std::optional<int> mpsBytes, mpsSupportedBytes, mrrsBytes;
    std::optional<bool> extTagSupported, extTag, relaxedOrdering, noSnoop;
    std::optional<bool> acs;  // ACS control on; switch downstream ports with ACS only
    bool pex89 = false;
};

struct GpuState {
    std::string busId;
    std::string product;  // "" when the board registers were not read
    std::optional<int> numaNode;
    std::optional<std::string> cpuList;
    bool iommu = false;
    std::optional<bool> completionTimeoutDisabled;
    DeviceState device;
    std::vector<DeviceState> path;  // the ports above the GPU, nearest first, root port last
};

struct HostState {
    std::vector<GpuState> gpus;
    std::optional<std::string> pex89Mode;  // "synthetic", "base", or null without PEX89 switch
};

// Reads every GPU of the set. `products` maps bus IDs to product names (may be empty).
HostState readHostState(const BusIdSet& gpus, const std::vector<std::pair<std::string, std::string>>& products);
DeviceState readDeviceState(const std::string& busId);
// "16GT/s x16", "?" for unknown parts.
std::string linkText(const std::optional<double>& speed, const std::optional<int>& width);
