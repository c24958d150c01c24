#include "health.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace {

using report::Status;

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool parseInt(const std::string& text, int min, int* out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *out = std::stoi(text);
    return *out >= min;
}

// "on"/"off" (and yes/no, true/false); "any" clears the expectation.
bool parseSwitch(const std::string& text, std::optional<bool>* out) {
    if (text == "on" || text == "yes" || text == "true") *out = true;
    else if (text == "off" || text == "no" || text == "false") *out = false;
    else if (text == "any") *out = std::nullopt;
    else return false;
    return true;
}

bool parseFlag(const std::string& text, bool* out) {
    std::optional<bool> value;
    if (!parseSwitch(text, &value) || !value) return false;
    *out = *value;
    return true;
}

std::string onOff(bool on) { return on ? "on" : "off"; }

// Every device on the paths of the GPUs once (GPUs first, then their ports), as the trace
// looks at each device of the path union once.
std::vector<const DeviceState*> pathUnion(const HostState& state) {
    std::vector<const DeviceState*> all;
    std::set<std::string> seen;
    for (const auto& g : state.gpus)
        if (seen.insert(g.busId).second) all.push_back(&g.device);
    for (const auto& g : state.gpus)
        for (const auto& port : g.path)
            if (seen.insert(port.busId).second) all.push_back(&port);
    std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->busId < b->busId; });
    return all;
}

}  // namespace

Expectations traceExpectations() {
    Expectations e;
    e.gpus = std::nullopt;
    e.mpsMin = 256;
    e.iommu = false;
    e.completionTimeoutDisabled = true;
    e.deviceControlFeatures = true;
    return e;
}

bool parseExpectations(const std::string& text, Expectations* out, std::string* error) {
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq)), value = eq == std::string::npos ? "" : trim(line.substr(eq + 1));
        bool ok = eq != std::string::npos;
        int number_value = 0;
        std::optional<bool> flag;
        if (!ok) {
        } else if (key == "gpus") {
            ok = parseInt(value, 0, &number_value);
            out->gpus = number_value;
        } else if (key == "link_at_capability") {
            ok = parseFlag(value, &out->linkAtCapability);
        } else if (key == "acs") {
            // The expected ACS state is "off"; "any" stops checking it.
            ok = parseSwitch(value, &flag) && flag != true;
            out->acsOff = flag.has_value();
        } else if (key == "mps_min" || key == "mrrs_min") {
            ok = parseInt(value, 128, &number_value) && (number_value & (number_value - 1)) == 0 && number_value <= 4096;
            (key == "mps_min" ? out->mpsMin : out->mrrsMin) = number_value;
        } else if (key == "iommu") {
            ok = parseSwitch(value, &out->iommu);
        } else if (key == "completion_timeout_disable") {
            ok = parseSwitch(value, &out->completionTimeoutDisabled);
        } else if (key == "device_control_features") {
            ok = parseFlag(value, &out->deviceControlFeatures);
        } else if (key == "timeout") {
            ok = parseInt(value, 1, &out->timeoutSeconds);
        } else {
            *error = "line " + std::to_string(number) + ": unknown key \"" + key + "\"";
            return false;
        }
        if (!ok) {
            *error = "line " + std::to_string(number) + ": invalid value for \"" + key + "\"";
            return false;
        }
    }
    return true;
}

std::vector<Finding> evaluate(const HostState& state, const Expectations& expect) {
    std::vector<Finding> out;
    const auto add = [&](const char* check, const std::optional<std::string>& device, const std::string& observed,
                         const std::string& expected, Status severity) {
        out.push_back({check, device, observed, expected, severity});
    };
    const int count = static_cast<int>(state.gpus.size());
    if (expect.gpus && count != *expect.gpus)
        add("gpu_count", std::nullopt, std::to_string(count), std::to_string(*expect.gpus),
            count < *expect.gpus ? Status::Critical : Status::Warning);
    if (expect.iommu) {
        bool on = false;
        for (const auto& g : state.gpus) on = on || g.iommu;
        if (!state.gpus.empty() && on != *expect.iommu) add("iommu", std::nullopt, onOff(on), onOff(*expect.iommu), Status::Warning);
    }
    for (const DeviceState* d : pathUnion(state)) {
        if (expect.acsOff && d->acs == true) add("acs", d->busId, "on", "off", Status::Critical);
        const auto at = d->link.atCapability();
        if (expect.linkAtCapability && at == false)
            add("link", d->busId, linkText(d->link.speed, d->link.width), linkText(d->link.maxSpeed, d->link.maxWidth),
                Status::Critical);
        // Root ports are left to the platform firmware, as in the trace.
        if (d->role == "root_port") continue;
        if (expect.mpsMin && d->mpsBytes && *d->mpsBytes < *expect.mpsMin &&
            (!d->mpsSupportedBytes || *d->mpsSupportedBytes >= *expect.mpsMin))
            add("mps", d->busId, std::to_string(*d->mpsBytes), ">=" + std::to_string(*expect.mpsMin), Status::Warning);
        if (expect.mrrsMin && d->mrrsBytes && *d->mrrsBytes < *expect.mrrsMin)
            add("mrrs", d->busId, std::to_string(*d->mrrsBytes), ">=" + std::to_string(*expect.mrrsMin),
                Status::Warning);
        if (expect.deviceControlFeatures) {
            if (d->extTagSupported == true && d->extTag == false) add("ext_tag", d->busId, "off", "on", Status::Warning);
            if (d->relaxedOrdering == false) add("relaxed_ordering", d->busId, "off", "on", Status::Warning);
            if (d->noSnoop == false) add("no_snoop", d->busId, "off", "on", Status::Warning);
        }
    }
    if (expect.completionTimeoutDisabled)
        for (const auto& g : state.gpus)
            if (g.completionTimeoutDisabled && *g.completionTimeoutDisabled != *expect.completionTimeoutDisabled)
                add("completion_timeout_disable", g.busId, onOff(*g.completionTimeoutDisabled),
                    onOff(*expect.completionTimeoutDisabled), Status::Warning);
    std::stable_sort(out.begin(), out.end(),
                     [](const Finding& a, const Finding& b) { return a.severity > b.severity; });
    return out;
}

report::Status overallStatus(const HostState& state, const std::vector<Finding>& findings) {
    // No GPU at all: nothing to judge, whatever else was found.
    if (state.gpus.empty()) return Status::Unknown;
    Status status = Status::Ok;
    for (const auto& f : findings) status = report::worse(status, f.severity);
    return status;
}

namespace {

std::string fit(std::string line) {
    if (line.size() > 80) line = line.substr(0, 77) + "...";
    return line;
}

std::string prefix(Status status) {
    switch (status) {
    case Status::Ok: return "OK: ";
    case Status::Warning: return "WARNING: ";
    case Status::Critical: return "CRITICAL: ";
    case Status::Unknown: break;
    }
    return "UNKNOWN: ";
}

}  // namespace

std::string checkLine(const HostState& state, const std::vector<Finding>& findings, bool linksChecked) {
    const Status status = overallStatus(state, findings);
    if (state.gpus.empty()) return unknownLine("no Quelvan GPU found");
    const size_t n = state.gpus.size();
    if (findings.empty())
        return fit(prefix(status) + std::to_string(n) + (n == 1 ? " GPU" : " GPUs") +
                   (linksChecked ? ", links at capability" : ""));
    const Finding& f = findings.front();
    std::string text = prefix(status) + (f.device ? *f.device + " " : "") + f.check + " " + f.observed +
                       ", expected " + f.expected;
    if (findings.size() > 1) text += " (+" + std::to_string(findings.size() - 1) + " more)";
    return fit(text);
}

std::string unknownLine(const std::string& reason) { return fit(prefix(Status::Unknown) + reason); }
