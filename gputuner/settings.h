// PCIe settings of the GPUs: maximum payload size, maximum read request size and the
// completion time-out disable bit (which also has the report mode used by the trace).
#pragma once

#include <string>

#include "device_access.h"

#include <optional>

// Each returns the label of its result line, or nothing for an invalid value.
std::optional<std::string> setMaxPayloadSize(BusIdSet set, const std::string& value);
std::optional<std::string> setMaxReadRequestSize(BusIdSet set, const std::string& value);
std::optional<std::string> setTimeoutDisable(BusIdSet set, bool doSet, const std::string& value);
