#include "json_output.h"

using report::orNull;

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
  doc["min_tflops"] = orNull(min_tflops);
  nlohmann::ordered_json devices = nlohmann::ordered_json::array();
  for (const DeviceResult& d : run.devices)
    devices.push_back({{"index", d.index},
                       {"avg_ms", orNull(d.avg_ms)},
                       {"tflops", orNull(d.tflops)},
                       {"verification", d.verified ? nlohmann::ordered_json(*d.verified ? "pass" : "fail")
                                                   : nlohmann::ordered_json(nullptr)},
                       {"status", report::statusName(d.status)},
                       {"error", orNull(d.error)}});
  doc["devices"] = devices;
  doc["totals"] = {{"avg_ms", orNull(run.avg_ms)}, {"tflops", orNull(run.tflops)}};
  doc["error"] = orNull(run.error);
  return doc;
}
