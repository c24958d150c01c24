// The --json document of matpulse (docs/schema/matpulse.v1.schema.json).
#pragma once

#include <nlohmann/json.hpp>

#include "results.h"

constexpr int kMatpulseSchemaVersion = 1;
inline constexpr const char* kMatpulseVersion = "1.0.0";

nlohmann::ordered_json matpulse_document(const RunResult& run, std::optional<double> min_tflops);
