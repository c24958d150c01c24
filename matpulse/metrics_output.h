// The metrics of matpulse --prom-file: per device its GEMM throughput, time and verification.
#pragma once

#include <vector>

#include "report/metrics.h"
#include "results.h"

std::vector<report::MetricFamily> matpulse_metrics(const RunResult& run);
