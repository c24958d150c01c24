// Result storage of a run and the final report. Workers write only their own slot; the main
// thread reads the slots after joining every worker.
#pragma once

#include "params.h"

extern double elapse_time[kMaxDevices];  // milliseconds of the timed loop, per list entry
extern bool elapse_measured[kMaxDevices];  // the worker's products all succeeded

struct ResultSummary {
  double avg_ms = 0;      // mean over the measured workers; a failed worker has no figure
  double throughput = 0;  // aggregate tera-operations per second of all workers
};

ResultSummary summarize_results();
void print_results();
