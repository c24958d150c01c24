// The result record of xferclock and its --json document (docs/schema/xferclock.v1.schema.json).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/report.h"

constexpr int kXferclockSchemaVersion = 1;

struct XferMeasurement {
    int device = 0;
    int64_t size = 0;
    double gpu_us = 0, cpu_us = 0;
    report::Status status = report::Status::Ok;  // critical above --max-latency-us
};

struct XferResult {
    std::string direction;  // "h2d" or "d2h"
    int repeats = 0;
    std::optional<double> max_latency_us;
    std::vector<XferMeasurement> measurements;
    std::optional<std::string> error;
    report::Status status = report::Status::Unknown;
};

// The figures of run_test as a record, judged against the threshold; unknown without a device.
XferResult collect_results(const std::vector<int>& devices, const std::vector<int64_t>& sizes, int repeats,
                           const std::vector<float>& host_latency, const std::vector<float>& gpu_latency, int mode,
                           std::optional<double> max_latency_us);

nlohmann::ordered_json xferclock_document(const XferResult& result, const std::string& version);
