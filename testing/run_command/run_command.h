// Runs a shell command for the end-to-end tests and keeps everything it printed on standard
// output and how it ended.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace testkit {

struct CommandResult {
  std::string output;
  int status = -1;  // exit status; -1 when the command could not start or was killed
};

inline CommandResult run_command(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace testkit
