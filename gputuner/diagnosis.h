// PCIe diagnosis: the usual causes of slow or blocked p2p, d2h and h2d transfers. The ACS and
// extended-capability checks also have a set mode, used by the setting options.
#pragma once

#include "device_access.h"

#include <optional>

// A Broadcom PEX89 switch port (vendor 0x1000, device 0xc030).
bool isPex89(const std::string& busId);
// Null when the lowest-numbered GPU has no PEX89 port on its path; true in synthetic mode (a
// GPU with two PEX89 ports on its path), false in base mode.
std::optional<bool> pex89Synthetic(const BusIdSet& set);

void checkIommuState(BusIdSet set);
void checkPex89State(BusIdSet set);
// Trace mode (doSet false) reports; set mode writes ACS control of every switch downstream
// port: 0x00 when disable is true, 0x1d otherwise.
// Returns the verdict printed: "ON", "OFF" or "No PCIe Switch".
std::string checkSwitchACS(BusIdSet set, bool doSet, bool disable);
// Trace mode reports device-control features left off; set mode switches them on.
// Returns the verdict printed: "Enable" or "Disable".
std::string checkPCIeExtend(BusIdSet set, bool doSet);
void checkPCIeLink(BusIdSet set);
