// The result record of one tuner run, which the renderers (JSON, the --check line) read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "health.h"
#include "report.h"
#include "state.h"

// One setting option of the run: what was asked and the label of its result line.
struct SettingResult {
    std::string option, value;
    std::optional<std::string> result;  // null for an invalid value
};

struct TunerReport {
    std::string mode;  // "list", "topology", "trace", "settings" or "check"
    std::optional<std::string> topologyLevel;
    HostState state;
    std::vector<Finding> findings;
    std::vector<SettingResult> settings;
    std::optional<std::string> checkLine;
    std::optional<std::string> error;  // why the run could not do what was asked
    report::Status status = report::Status::Unknown;
};
