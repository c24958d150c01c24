#include "metrics_output.h"

#include <optional>

namespace {

std::optional<double> scaled(const std::optional<double>& value, double factor) {
    return value ? std::optional<double>(*value * factor) : std::nullopt;
}

template <typename T>
std::optional<double> number(const std::optional<T>& value) {
    return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
}

// 1 when ACS is on at any switch downstream port above the GPU; unknown when none says.
std::optional<double> acsAbove(const GpuState& gpu) {
    std::optional<double> on;
    for (const auto& port : gpu.path)
        if (port.acs) on = std::max(on.value_or(0), *port.acs ? 1.0 : 0.0);
    return on;
}

// The worst finding on the GPU or a port above it, as a status code (0 when none).
double healthOf(const GpuState& gpu, const std::vector<Finding>& findings) {
    report::Status worst = report::Status::Ok;
    for (const auto& f : findings) {
        if (!f.device) continue;
        bool mine = *f.device == gpu.busId;
        for (const auto& port : gpu.path) mine = mine || *f.device == port.busId;
        if (mine) worst = report::worse(worst, f.severity);
    }
    return report::exitCode(worst, report::ExitCodes::Nagios);
}

}  // namespace

std::vector<report::MetricFamily> tunerMetrics(const TunerReport& r) {
    std::vector<report::MetricFamily> m;
    report::addRunSamples(m, "gputuner", r.status);
    report::addSample(m, "quelvan_gputuner_gpus", "Quelvan GPUs found by the check.", {},
                      static_cast<double>(r.state.gpus.size()));
    int index = 0;
    for (const auto& gpu : r.state.gpus) {
        const report::Labels l = report::deviceLabels(index++, gpu.busId);
        const LinkState& link = gpu.device.link;
        report::addSample(m, "quelvan_gpu_health_status",
                          "Worst finding on the GPU or a port above it: 0 ok, 1 warning, 2 critical, 3 unknown.", l,
                          healthOf(gpu, r.findings));
        report::addSample(m, "quelvan_pcie_link_speed_transfers_per_second", "Current PCIe link speed of the GPU.", l,
                          scaled(link.speed, 1e9));
        report::addSample(m, "quelvan_pcie_link_max_speed_transfers_per_second", "PCIe link speed the GPU is capable of.",
                          l, scaled(link.maxSpeed, 1e9));
        report::addSample(m, "quelvan_pcie_link_width_lanes", "Current PCIe link width of the GPU.", l, number(link.width));
        report::addSample(m, "quelvan_pcie_link_max_width_lanes", "PCIe link width the GPU is capable of.", l,
                          number(link.maxWidth));
        report::addSample(m, "quelvan_pcie_max_payload_size_bytes", "PCIe Max Payload Size set on the GPU.", l,
                          number(gpu.device.mpsBytes));
        report::addSample(m, "quelvan_pcie_max_read_request_size_bytes", "PCIe Max Read Request Size set on the GPU.", l,
                          number(gpu.device.mrrsBytes));
        report::addSample(m, "quelvan_pcie_acs_enabled", "1 when ACS is on at a switch downstream port above the GPU.", l,
                          acsAbove(gpu));
        report::addSample(m, "quelvan_pcie_completion_timeout_disabled",
                          "1 when the GPU's PCIe completion time-out is disabled.", l,
                          gpu.completionTimeoutDisabled ? std::optional<double>(*gpu.completionTimeoutDisabled)
                                                        : std::nullopt);
    }
    return m;
}
