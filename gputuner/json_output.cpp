#include "json_output.h"

namespace {

using nlohmann::ordered_json;
using report::orNull;

ordered_json linkJson(const LinkState& link) {
    return {{"speed_gts", orNull(link.speed)},
            {"width", orNull(link.width)},
            {"max_speed_gts", orNull(link.maxSpeed)},
            {"max_width", orNull(link.maxWidth)},
            {"at_capability", orNull(link.atCapability())}};
}

ordered_json portJson(const DeviceState& d) {
    return {{"bus_id", d.busId},       {"role", d.role},          {"pex89", d.pex89},
            {"link", linkJson(d.link)}, {"mps_bytes", orNull(d.mpsBytes)}, {"mrrs_bytes", orNull(d.mrrsBytes)},
            {"acs", orNull(d.acs)}};
}

// On for the GPU as soon as one switch port on its path redirects peer traffic.
std::optional<bool> gpuAcs(const GpuState& g) {
    std::optional<bool> acs;
    for (const auto& port : g.path)
        if (port.acs) acs = acs.value_or(false) || *port.acs;
    return acs;
}

ordered_json gpuJson(const GpuState& g) {
    ordered_json path = ordered_json::array();
    for (const auto& port : g.path) path.push_back(portJson(port));
    return {{"bus_id", g.busId},
            {"product", g.product.empty() ? ordered_json(nullptr) : ordered_json(g.product)},
            {"numa_node", orNull(g.numaNode)},
            {"cpu_list", orNull(g.cpuList)},
            {"link", linkJson(g.device.link)},
            {"mps_bytes", orNull(g.device.mpsBytes)},
            {"mps_supported_bytes", orNull(g.device.mpsSupportedBytes)},
            {"mrrs_bytes", orNull(g.device.mrrsBytes)},
            {"acs", orNull(gpuAcs(g))},
            {"ext_tag", orNull(g.device.extTag)},
            {"relaxed_ordering", orNull(g.device.relaxedOrdering)},
            {"no_snoop", orNull(g.device.noSnoop)},
            {"completion_timeout_disabled", orNull(g.completionTimeoutDisabled)},
            {"iommu", g.iommu},
            {"path", path}};
}

}  // namespace

ordered_json tunerDocument(const TunerReport& r, const std::string& version) {
    ordered_json doc = report::header(kTunerSchemaVersion, "gputuner", version, r.status);
    doc["mode"] = r.mode;
    doc["topology_level"] = orNull(r.topologyLevel);
    ordered_json gpus = ordered_json::array();
    bool iommu = false;
    for (const auto& g : r.state.gpus) {
        gpus.push_back(gpuJson(g));
        iommu = iommu || g.iommu;
    }
    doc["gpu_count"] = r.state.gpus.size();
    doc["iommu"] = iommu;
    doc["pex89_mode"] = orNull(r.state.pex89Mode);
    doc["gpus"] = gpus;
    ordered_json findings = ordered_json::array();
    for (const auto& f : r.findings)
        findings.push_back({{"check", f.check},
                            {"device", orNull(f.device)},
                            {"observed", f.observed},
                            {"expected", f.expected},
                            {"severity", report::statusName(f.severity)}});
    doc["findings"] = findings;
    ordered_json settings = ordered_json::array();
    for (const auto& s : r.settings)
        settings.push_back({{"option", s.option}, {"value", s.value}, {"valid", s.result.has_value()},
                            {"result", orNull(s.result)}});
    doc["settings"] = settings;
    doc["check_line"] = orNull(r.checkLine);
    doc["error"] = orNull(r.error);
    return doc;
}
