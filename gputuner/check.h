// gputuner --check: the host against an expected state, as one line or one JSON document and
// an exit code. Reads only; never writes PCI configuration.
#pragma once

#include <string>

#include "report.h"

struct CheckOptions {
    bool json = false;
    std::string configFile;  // "" for the defaults
    report::ExitCodes exitCodes = report::ExitCodes::Plain;
    std::string version;
    std::string promFile;  // "" for none; else the metrics file to write
};

// Prints the line (or the document) and returns the exit code.
int runCheck(const CheckOptions& options);
