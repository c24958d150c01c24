#include "report.h"

void print_results(std::FILE* out, const std::vector<int>& devices,
                   const std::vector<int64_t>& sizes, int repeats,
                   const std::vector<float>& host_latency, const std::vector<float>& gpu_latency,
                   int mode)
{
    (void)repeats;  // already folded into the per-copy figures
    const char* direction = mode == 1 ? "D2H" : "H2D";
    std::fprintf(out, "\nTest Results:\n");
    for (size_t s = 0; s < sizes.size(); ++s) {
        for (size_t d = 0; d < devices.size(); ++d) {
            size_t at = d * sizes.size() + s;
            std::fprintf(out,
                         "%s Transfer Size=%-10lld(byte)  Device=%d GPU and CPU Latencies(us): "
                         "%6.2f %6.2f\n",
                         direction, static_cast<long long>(sizes[s]), devices[d],
                         static_cast<double>(gpu_latency[at]), static_cast<double>(host_latency[at]));
        }
    }
    std::fprintf(out, "\n");
}
