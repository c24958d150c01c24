// The result record of vidprobe and its --json document (docs/schema/vidprobe.v1.schema.json).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "options.h"
#include "report.h"
#include "report/report.h"

constexpr int kVidprobeSchemaVersion = 1;
inline constexpr const char* kVidprobeVersion = "5.5.72";

struct InstanceResult {
    int index = 0;
    int codec = 0;
    std::string input;
    bool decoder = false;  // the decoder could be created
    int64_t frames = 0;
    std::optional<double> fps;  // null when the instance was not seen both decoding and finished
};

struct VidResult {
    std::vector<InstanceResult> instances;
    int64_t totalFrames = 0;
    std::optional<double> fps, perInstanceFps;  // the rate line's figures
    std::optional<double> minFps;
    std::optional<std::string> error;
    report::Status status = report::Status::Unknown;
};

// created[k]: instance k got a decoder. Judged against --min-fps on the total rate.
VidResult collectResult(const RunConfig& config, const std::vector<bool>& created,
                        const std::vector<InstanceTiming>& timings, const std::vector<int64_t>& frames,
                        const RateReport& rate);

nlohmann::ordered_json vidprobeDocument(const VidResult& result);
