#include "results.h"

#include <algorithm>
#include <cstdio>

double elapse_time[kMaxDevices] = {};
bool elapse_measured[kMaxDevices] = {};
std::optional<bool> verify_outcome[kMaxDevices];

ResultSummary summarize_results() {
  ResultSummary out;
  int n = 0;
  double sum = 0;
  for (int i = 0; i < std::clamp(dev_nums, 0, kMaxDevices); ++i)
    if (elapse_measured[i]) sum += elapse_time[i], ++n;
  if (n == 0) return out;
  out.avg_ms = sum / n;
  out.throughput = static_cast<double>(loop_num) * 1e-9 * 2 * static_cast<double>(gemm_m) *
                   static_cast<double>(gemm_n) * static_cast<double>(gemm_k) * n / out.avg_ms;
  return out;
}

void print_results() {
  ResultSummary r = summarize_results();
  std::printf("Test results:\n");
  std::printf(data_type == kINT8 ? "avg elapse: %lf ms, TOPs: %lf\n" : "avg elapse: %lf ms, TFLOPs: %lf\n",
              r.avg_ms, r.throughput);
}

RunResult collect_results(std::optional<double> min_tflops) {
  RunResult run;
  const ResultSummary summary = summarize_results();
  run.avg_ms = summary.avg_ms;
  run.tflops = summary.throughput;
  run.status = report::Status::Ok;
  const double ops = static_cast<double>(loop_num) * 1e-9 * 2 * static_cast<double>(gemm_m) *
                     static_cast<double>(gemm_n) * static_cast<double>(gemm_k);
  for (int i = 0; i < std::clamp(dev_nums, 0, kMaxDevices); ++i) {
    DeviceResult d;
    d.index = dev_index_list[static_cast<size_t>(i)];
    d.verified = verify_outcome[i];
    d.status = report::Status::Ok;
    if (elapse_measured[i]) {
      d.avg_ms = elapse_time[i];
      if (elapse_time[i] > 0) d.tflops = ops / elapse_time[i];
    }
    if (!elapse_measured[i]) {
      // The worker printed why; a library or memory failure is the device's, not a wrong result.
      d.error = "no result: the worker failed";
      d.status = report::Status::Unknown;
    } else if (d.verified == false) {
      d.error = "verification failed";
      d.status = report::Status::Critical;
    } else if (min_tflops && !(d.tflops && *d.tflops >= *min_tflops)) {
      d.error = "below --min-tflops";
      d.status = report::Status::Critical;
    }
    run.status = report::worse(run.status, d.status);
    run.devices.push_back(d);
  }
  if (run.devices.empty()) run.status = report::Status::Unknown;
  return run;
}
