// Result storage of a run and the final report. Workers write only their own slot; the main
// thread reads the slots after joining every worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "params.h"
#include "report.h"

extern double elapse_time[kMaxDevices];  // milliseconds of the timed loop, per list entry
extern bool elapse_measured[kMaxDevices];  // the worker's products all succeeded

struct ResultSummary {
  double avg_ms = 0;      // mean over the measured workers; a failed worker has no figure
  double throughput = 0;  // aggregate tera-operations per second of all workers
};

ResultSummary summarize_results();
void print_results();

extern std::optional<bool> verify_outcome[kMaxDevices];  // with --v: PASS or FAIL, per list entry

// One requested device of the run, judged against the thresholds of the command line.
struct DeviceResult {
  int index = 0;
  std::optional<double> avg_ms, tflops;
  std::optional<bool> verified;
  std::optional<std::string> error;
  report::Status status = report::Status::Unknown;
};

struct RunResult {
  std::vector<DeviceResult> devices;
  std::optional<double> avg_ms, tflops;  // the text report's figures
  std::optional<std::string> error;      // the run stopped before any worker started
  report::Status status = report::Status::Unknown;
};

// --min-tflops; unset: no threshold.
RunResult collect_results(std::optional<double> min_tflops);
