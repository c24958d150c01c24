// The run configuration and its command line: getopt_long with per-instance comma lists.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

constexpr unsigned kMaxInstances = 256;
constexpr size_t kPathBytes = 256; // a path of at most 255 bytes and its NUL

struct InstanceSettings {
    char input[kPathBytes];
    char output[kPathBytes];
    int32_t codec;
    int32_t bsMode;
    int32_t bsSize;
    uint8_t enableWtl;
    int32_t wtlFormat;
    int32_t pfClock;
    uint8_t pf;
    int32_t bw;
    int32_t cbcrInterleave;
    int32_t nv21;
    int32_t scaleWidth;
    int32_t scaleHeight;
    uint32_t secondaryAxi;
    int32_t disableReorder;
};

struct RunConfig {
    int32_t minor;
    int32_t n;
    uint32_t instanceCount;
    InstanceSettings instances[kMaxInstances];
    int32_t frameOutput;
    int32_t json;    // --json: one JSON document on standard output
    int32_t strict;  // --strict: exit codes that tell a failure
    double minFps;   // --min-fps; 0: no threshold
    const char* promFile;  // --prom-file (points into argv); null: no metrics
};

enum class ParseResult { Run, Help, Refused };

// Reads the options into cfg, which the caller has zero-filled. An unknown option or a missing
// value ends the reading (getopt_long has said why) and what was read stands. Refused: an
// instance count or a path beyond the limits, with the reason in error.
ParseResult parseOptions(int argc, char** argv, RunConfig& cfg, std::string& error);

void printHelp(FILE* out, const char* argv0);
