// The metrics of gputuner --check --prom-file: per GPU its link against its capability, MPS,
// MRRS, ACS and completion time-out state and health, and the check's status and time.
#pragma once

#include <string>
#include <vector>

#include "metrics.h"
#include "tuner_report.h"

std::vector<report::MetricFamily> tunerMetrics(const TunerReport& r);
