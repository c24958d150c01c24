#include "json_output.h"

XferResult collect_results(const std::vector<int>& devices, const std::vector<int64_t>& sizes, int repeats,
                           const std::vector<float>& host_latency, const std::vector<float>& gpu_latency, int mode,
                           std::optional<double> max_latency_us)
{
    XferResult r;
    r.direction = mode == 1 ? "d2h" : "h2d";
    r.repeats = repeats;
    r.max_latency_us = max_latency_us;
    r.status = devices.empty() ? report::Status::Unknown : report::Status::Ok;
    if (devices.empty())
        r.error = "no GPU found";
    for (size_t s = 0; s < sizes.size(); ++s) {
        for (size_t d = 0; d < devices.size(); ++d) {
            size_t at = d * sizes.size() + s;
            XferMeasurement m{devices[d], sizes[s], gpu_latency[at], host_latency[at], report::Status::Ok};
            if (max_latency_us && m.gpu_us > *max_latency_us)
                m.status = report::Status::Critical;
            r.status = report::worse(r.status, m.status);
            r.measurements.push_back(m);
        }
    }
    return r;
}

nlohmann::ordered_json xferclock_document(const XferResult& r, const std::string& version)
{
    auto doc = report::header(kXferclockSchemaVersion, "xferclock", version, r.status);
    doc["direction"] = r.direction;
    doc["repeats"] = r.repeats;
    doc["max_latency_us"] = report::orNull(r.max_latency_us);
    auto results = nlohmann::ordered_json::array();
    for (const XferMeasurement& m : r.measurements)
        results.push_back({{"device", m.device},
                           {"size_bytes", m.size},
                           {"gpu_latency_us", m.gpu_us},
                           {"cpu_latency_us", m.cpu_us},
                           {"status", report::statusName(m.status)}});
    doc["results"] = results;
    doc["error"] = report::orNull(r.error);
    return doc;
}
