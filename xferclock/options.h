// The command line of xferclock: its own reader, with the checks and messages users know.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct XferSettings {
    std::vector<int64_t> sizes = {4096, 8192, 16384, 32768, 65536, 131072, 262144};
    std::vector<int> devices;  // empty until given or filled with every GPU
    int repeats = 100;
    int mode = 0;  // 0 host to device, 1 device to host
    int64_t start = -1, end = -1, increment = -1, factor = -1;  // -1: not given
    bool json = false;    // one JSON document on standard output
    bool strict = false;  // exit codes that tell a failure
    double max_latency_us = -1;  // --max-latency-us; -1: not given
    std::string prom_file;       // --prom-file; "": no metrics
};

// What the reader decided: run the test, or end now with `message` printed on the standard
// output and `exit_code`.
struct ParseOutcome {
    bool run = true;
    int exit_code = 0;
    std::string message;
};

inline constexpr const char* kXferclockVersion = "0.0.1";

// Reads args (args[0] is the program name) into settings and builds the size list. gpu_count is
// asked only when a device index must be checked or the default device list is needed, so
// argument errors end the program before any GPU work.
ParseOutcome parse_arguments(const std::vector<std::string>& args,
                             const std::function<int()>& gpu_count, XferSettings& settings);
