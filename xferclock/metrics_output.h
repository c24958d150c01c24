// The metrics of xferclock --prom-file: per device and size the GPU and CPU copy latencies.
#pragma once

#include <vector>

#include "json_output.h"
#include "report/metrics.h"

std::vector<report::MetricFamily> xferclock_metrics(const XferResult& result);
