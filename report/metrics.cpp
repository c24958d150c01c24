#include "metrics.h"

#include "atomic_file.h"

#include <cctype>
#include <chrono>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace report {
namespace {

std::string escapeLabel(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string escapeHelp(const std::string& help) {
    std::string out;
    for (char c : help) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : "NaN";
}

}  // namespace

void addSample(std::vector<MetricFamily>& families, const std::string& name, const std::string& help,
               Labels labels, std::optional<double> value) {
    if (!value) return;
    for (auto& family : families) {
        if (family.name == name) {
            family.samples.push_back({std::move(labels), *value});
            return;
        }
    }
    families.push_back({name, help, "gauge", {{std::move(labels), *value}}});
}

Labels deviceLabels(int gpu, const std::string& pciBusId) {
    std::string bus = pciBusId;
    for (char& c : bus) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return {{"gpu", std::to_string(gpu)}, {"pci_bus_id", bus}};
}

void addRunSamples(std::vector<MetricFamily>& families, const std::string& program, Status status) {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    addSample(families, "quelvan_" + program + "_status",
              "Outcome of the last " + program + " run: 0 ok, 1 warning, 2 critical, 3 unknown.", {},
              exitCode(status, ExitCodes::Nagios));
    addSample(families, "quelvan_" + program + "_last_run_timestamp_seconds",
              "When " + program + " last ran, in seconds since the Unix epoch.", {}, now);
}

std::string renderMetrics(const std::vector<MetricFamily>& families) {
    std::string text;
    for (const auto& family : families) {
        if (family.samples.empty()) continue;
        text += "# HELP " + family.name + " " + escapeHelp(family.help) + "\n";
        text += "# TYPE " + family.name + " " + family.type + "\n";
        for (const auto& sample : family.samples) {
            text += family.name;
            if (!sample.labels.empty()) {
                text += "{";
                for (size_t i = 0; i < sample.labels.size(); ++i)
                    text += (i ? "," : "") + sample.labels[i].first + "=\"" + escapeLabel(sample.labels[i].second) + "\"";
                text += "}";
            }
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + temporary
            // once libc is fortified.
            text += ' ';
            text += number(sample.value);
            text += '\n';
        }
    }
    return text;
}

bool writeMetrics(const std::string& path, const std::vector<MetricFamily>& families, const std::string& program) {
    std::string error;
    if (writeFileAtomically(path, renderMetrics(families), &error)) return true;
    std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
    return false;
}

}  // namespace report
