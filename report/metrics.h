// Prometheus metrics for node_exporter's textfile collector: metric families rendered in the
// text exposition format and written atomically, so the collector never reads half a file.
// Names carry the prefix "quelvan_" and base units (seconds, bytes, transfers and operations
// per second); per-device samples carry the labels gpu and pci_bus_id.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace report {

struct Sample {
    std::vector<std::pair<std::string, std::string>> labels;
    double value = 0;
};

struct MetricFamily {
    std::string name;  // full name, "quelvan_..."
    std::string help;
    std::string type = "gauge";
    std::vector<Sample> samples;
};

// Adds a sample to the family called name (created with help on first use); nothing for a
// value that is not known, so an unknown reading is absent rather than a false zero.
void addSample(std::vector<MetricFamily>& families, const std::string& name, const std::string& help,
               std::vector<std::pair<std::string, std::string>> labels, std::optional<double> value);

// The text exposition format: # HELP, # TYPE, then one line per sample; families without
// samples are left out.
std::string renderMetrics(const std::vector<MetricFamily>& families);

// Writes text to a temporary file in path's directory and renames it over path. False, with
// the reason in error, when that fails; the temporary file is removed then.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error);

}  // namespace report
