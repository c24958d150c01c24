// PCIe diagnosis: the usual causes of slow or blocked p2p, d2h and h2d transfers. The ACS and
// extended-capability checks also have a set mode, used by the setting options.
#pragma once

#include "device_access.h"

void checkIommuState(BusIdSet set);
void checkPex89State(BusIdSet set);
// Trace mode (doSet false) reports; set mode writes ACS control of every switch downstream
// port: 0x00 when disable is true, 0x1d otherwise.
void checkSwitchACS(BusIdSet set, bool doSet, bool disable);
// Trace mode reports device-control features left off; set mode switches them on.
void checkPCIeExtend(BusIdSet set, bool doSet);
void checkPCIeLink(BusIdSet set);
