#include "json_output.h"

namespace {

template <typename T>
nlohmann::ordered_json or_null(const std::optional<T>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

}  // namespace

nlohmann::ordered_json matpulse_document(const RunResult& run, std::optional<double> min_tflops) {
  nlohmann::ordered_json doc = report::header(kMatpulseSchemaVersion, "matpulse", kMatpulseVersion, run.status);
  doc["gemm"] = {{"m", gemm_m},
                 {"n", gemm_n},
                 {"k", gemm_k},
                 {"trans_a", trans_a},
                 {"trans_b", trans_b},
                 {"type", data_type < kNumDataTypes ? nlohmann::ordered_json(data_type_str[data_type])
                                                    : nlohmann::ordered_json(nullptr)},
                 {"loops", loop_num},
                 {"alpha", alpha},
                 {"beta", beta}};
  doc["unit"] = data_type == kINT8 ? "TOPs" : "TFLOPs";
  doc["verify"] = verify_res;
  doc["min_tflops"] = or_null(min_tflops);
  nlohmann::ordered_json devices = nlohmann::ordered_json::array();
  for (const DeviceResult& d : run.devices)
    devices.push_back({{"index", d.index},
                       {"avg_ms", or_null(d.avg_ms)},
                       {"tflops", or_null(d.tflops)},
                       {"verification", d.verified ? nlohmann::ordered_json(*d.verified ? "pass" : "fail")
                                                   : nlohmann::ordered_json(nullptr)},
                       {"status", report::statusName(d.status)},
                       {"error", or_null(d.error)}});
  doc["devices"] = devices;
  doc["totals"] = {{"avg_ms", or_null(run.avg_ms)}, {"tflops", or_null(run.tflops)}};
  doc["error"] = or_null(run.error);
  return doc;
}
