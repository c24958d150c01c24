// PCIe settings of the GPUs: maximum payload size, maximum read request size and the
// completion time-out disable bit (which also has the report mode used by the trace).
#pragma once

#include <string>

#include "device_access.h"

void setMaxPayloadSize(BusIdSet set, const std::string& value);
void setMaxReadRequestSize(BusIdSet set, const std::string& value);
void setTimeoutDisable(BusIdSet set, bool doSet, const std::string& value);
