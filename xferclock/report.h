// The result table of xferclock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// Results are indexed [device position * sizes + size position], in microseconds per copy.
void print_results(std::FILE* out, const std::vector<int>& devices,
                   const std::vector<int64_t>& sizes, int repeats,
                   const std::vector<float>& host_latency, const std::vector<float>& gpu_latency,
                   int mode);
