// The metrics of vidprobe --prom-file: the decoding rate of the run and of each instance.
#pragma once

#include <vector>

#include "json_output.h"
#include "report/metrics.h"

// gpu: the device index the run decoded on (--minor).
std::vector<report::MetricFamily> vidprobeMetrics(const VidResult& result, int gpu);
