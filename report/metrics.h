// Prometheus metrics for node_exporter's textfile collector: metric families rendered in the
// text exposition format and written atomically, so the collector never reads half a file.
// Names carry the prefix "quelvan_" and base units (seconds, bytes, transfers and operations
// per second); per-device samples carry the labels gpu and pci_bus_id.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report.h"

namespace report {

using Labels = std::vector<std::pair<std::string, std::string>>;

struct Sample {
    Labels labels;
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
               Labels labels, std::optional<double> value);

// gpu and pci_bus_id of a per-device sample; the bus ID in lower case, as sysfs writes it.
Labels deviceLabels(int gpu, const std::string& pciBusId);

// quelvan_<program>_status (0 ok, 1 warning, 2 critical, 3 unknown) and
// quelvan_<program>_last_run_timestamp_seconds, now.
void addRunSamples(std::vector<MetricFamily>& families, const std::string& program, Status status);

// The text exposition format: # HELP, # TYPE, then one line per sample; families without
// samples are left out.
std::string renderMetrics(const std::vector<MetricFamily>& families);

// renderMetrics into path, atomically; on failure prints "<program>: <reason>" on standard error.
bool writeMetrics(const std::string& path, const std::vector<MetricFamily>& families, const std::string& program);

}  // namespace report
