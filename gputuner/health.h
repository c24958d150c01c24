// Health of a host against an expected state: findings from a HostState, the expected-state
// file of --check, and the one-line summary. Pure functions of their inputs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report.h"
#include "state.h"

// What a healthy host looks like. Unset members are not checked.
struct Expectations {
    std::optional<int> gpus;          // GPU count; unset: at least one
    bool linkAtCapability = true;     // every link on every GPU's path at its capability
    bool acsOff = true;               // ACS control off on every switch downstream port
    std::optional<int> mpsMin, mrrsMin;  // bytes, on every GPU and switch port
    std::optional<bool> iommu;        // expected IOMMU state
    std::optional<bool> completionTimeoutDisabled;
    bool deviceControlFeatures = false;  // extended tags, relaxed ordering, no-snoop on
    int timeoutSeconds = 30;          // watchdog of the check
};

// What --trace reports as causes of slow transfers.
Expectations traceExpectations();

// Reads "key = value" lines ('#' starts a comment). Keys: gpus, link_at_capability, acs,
// mps_min, mrrs_min, iommu, completion_timeout_disable, device_control_features, timeout.
// False with a message naming the line on an unknown key or value.
bool parseExpectations(const std::string& text, Expectations* out, std::string* error);

struct Finding {
    std::string check;               // "gpu_count", "link", "acs", "mps", ...
    std::optional<std::string> device;  // bus ID; null for host-wide findings
    std::string observed, expected;
    report::Status severity = report::Status::Warning;
};

// Worst first (stable within one severity).
std::vector<Finding> evaluate(const HostState& state, const Expectations& expect);
report::Status overallStatus(const HostState& state, const std::vector<Finding>& findings);

// "OK: 8 GPUs, links at capability" (the links named only when they were checked), or the
// worst finding first; never over 80 characters.
std::string checkLine(const HostState& state, const std::vector<Finding>& findings, bool linksChecked);
// The line for a check that could not tell, "UNKNOWN: " + reason, cut to 80 characters.
std::string unknownLine(const std::string& reason);
