#include "results.h"

#include <algorithm>
#include <cstdio>

double elapse_time[kMaxDevices] = {};
WorkerOutcome worker_outcome[kMaxDevices];

ResultSummary summarize_results() {
  ResultSummary out;
  int n = std::clamp(dev_nums, 0, kMaxDevices);
  if (n == 0) return out;
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += elapse_time[i];
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
    const WorkerOutcome& w = worker_outcome[i];
    DeviceResult d;
    d.index = dev_index_list[static_cast<size_t>(i)];
    d.verified = w.verified;
    d.status = report::Status::Ok;
    if (w.measured) {
      d.avg_ms = elapse_time[i];
      if (elapse_time[i] > 0) d.tflops = ops / elapse_time[i];
    }
    if (!w.error.empty()) {
      d.error = w.error;
      d.status = report::Status::Unknown;
    } else if (!w.measured) {
      d.error = "no result";
      d.status = report::Status::Unknown;
    } else if (w.verified == false) {
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
