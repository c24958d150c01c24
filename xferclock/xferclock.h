// The measurement of xferclock. Every runtime call in it is checked; a failed call prints
// "Cuda failure <file>:<line>: '<message>'" and ends the program with exit code 1.
#pragma once

#include <cstdint>
#include <vector>

// Called with the failure line before a failed runtime call ends the program; it may end the
// program itself (with its own status). Null: the line is printed and the status is 1.
extern void (*xfer_failure_handler)(const char* line);

// The number of GPUs (a checked call).
int gpu_count_checked();

// Fills both result lists, in microseconds per copy, indexed [device position * sizes + size
// position]. mode 0 copies host to device, 1 device to host.
void run_test(const std::vector<int>& devices, const std::vector<int64_t>& sizes, int repeats,
              std::vector<float>& host_latency, std::vector<float>& gpu_latency, int mode);
