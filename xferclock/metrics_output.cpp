#include "metrics_output.h"

#include <cuda_runtime.h>

namespace {

std::string bus_id(int device)
{
    char text[32] = "";
    return cudaDeviceGetPCIBusId(text, sizeof text, device) == cudaSuccess ? text : "";
}

}  // namespace

std::vector<report::MetricFamily> xferclock_metrics(const XferResult& result)
{
    std::vector<report::MetricFamily> m;
    report::addRunSamples(m, "xferclock", result.status);
    for (const auto& x : result.measurements) {
        report::Labels l = report::deviceLabels(x.device, bus_id(x.device));
        l.push_back({"direction", result.direction});
        l.push_back({"size_bytes", std::to_string(x.size)});
        report::addSample(m, "quelvan_xferclock_gpu_latency_seconds",
                          "Mean latency of one copy of size_bytes, timed on the GPU.", l, x.gpu_us * 1e-6);
        report::addSample(m, "quelvan_xferclock_cpu_latency_seconds",
                          "Mean latency of one copy of size_bytes, timed on the host.", l, x.cpu_us * 1e-6);
    }
    return m;
}
