// The --json document of gputuner (docs/schema/gputuner.v1.schema.json).
#pragma once

#include <nlohmann/json.hpp>

#include "tuner_report.h"

constexpr int kTunerSchemaVersion = 1;

nlohmann::ordered_json tunerDocument(const TunerReport& report, const std::string& version);
