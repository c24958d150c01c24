// The rate line at the end of a run, kept apart from the timing so another output form is one
// new printer.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <vector>

// Wall-clock times of one instance, noted by the monitor.
struct InstanceTiming {
    timeval start{};
    timeval end{};
    bool started = false; // status 1 was seen
    bool ended = false;   // status 2 was seen after status 1
};

struct RateReport {
    int64_t totalFrames = 0;
    unsigned instancesTimed = 0;
    double fps = 0;
    double perInstanceFps = 0;
};

// The average time runs over the instances that were seen both decoding and finished; the others
// (no decoder, or finished before the monitor saw them decode) have no time to contribute.
RateReport computeRate(const std::vector<InstanceTiming>& timings, int64_t totalFrames);

// Prints the rate line when there is a rate to print.
void printRate(FILE* out, const RateReport& report);
