#include "results.h"

#include <algorithm>
#include <cstdio>

double elapse_time[kMaxDevices] = {};
bool elapse_measured[kMaxDevices] = {};

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
