// Everything the installer library keeps for the whole life of the process, in one record with
// one reset. A program starts with the values below and never resets; tests and fuzz targets run
// many cases in one process and call reset_process_state() before each, so no case sees what an
// earlier one left behind. It sits below every other installer unit (the logger included) and
// depends on nothing of ours.
#pragma once

#include <cstdio>
#include <string>
#include <unordered_map>

// The removal operations' view of the installation they are removing.
struct UninstallState {
  std::string installed_path;     // set by the OSTREL record
  bool ostrel_checked = false;    // the two flags below were computed
  bool toolkit_installed = true;
  bool driver_installed = true;
  bool _checksum_mismatched = false;  // a changed file was kept
};

struct ProcessState {
  // Path to MD5 digest, filled while collecting records and consulted before running md5sum.
  std::unordered_map<std::string, std::string> digests;
  UninstallState uninstall;
  // The register file the firmware check has open, -1 when none.
  int register_fd = -1;
  // The logger's open file (none until the logger is initialised) and its silent switch.
  FILE* log_file = nullptr;
  bool log_silent = false;
};

extern ProcessState process_state;

// Closes the open log and register files and puts every member back to its start value.
void reset_process_state();
