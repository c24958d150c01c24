#include "metrics_output.h"

#include <cuda_runtime.h>

#include <optional>

namespace {

std::string bus_id(int device) {
  char text[32] = "";
  return cudaDeviceGetPCIBusId(text, sizeof text, device) == cudaSuccess ? text : "";
}

std::optional<double> scaled(const std::optional<double>& value, double factor) {
  return value ? std::optional<double>(*value * factor) : std::nullopt;
}

}  // namespace

std::vector<report::MetricFamily> matpulse_metrics(const RunResult& run) {
  std::vector<report::MetricFamily> m;
  report::addRunSamples(m, "matpulse", run.status);
  for (const auto& d : run.devices) {
    const report::Labels l = report::deviceLabels(d.index, bus_id(d.index));
    report::addSample(m, "quelvan_matpulse_operations_per_second",
                      "GEMM throughput of the device: floating-point (integer for INT8) operations per second.", l,
                      scaled(d.tflops, 1e12));
    report::addSample(m, "quelvan_matpulse_gemm_duration_seconds", "Mean time of one GEMM on the device.", l,
                      scaled(d.avg_ms, 1e-3));
    report::addSample(m, "quelvan_matpulse_verification_passed",
                      "1 when the device's result matched the host reference, 0 when it did not; absent without --v.",
                      l, d.verified ? std::optional<double>(*d.verified) : std::nullopt);
  }
  return m;
}
