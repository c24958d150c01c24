// One GPU worker: uploads the host matrices, runs the power phase, the warm-up and the timed
// loop on one device, and optionally verifies the result.
#pragma once

struct WorkerOutcome;

// Stores the timed loop's milliseconds through `elapsed`; leaves it untouched when the worker
// gives up before the timed loop. Every failure prints one line and ends this worker only.
// `outcome`, when given, records how the worker ended.
void test_gemm_worker(int device, double* elapsed, WorkerOutcome* outcome = nullptr);
// Occupies most of the remaining device memory, or leaves *extra null.
void get_high_memory_usage(void** extra);
