// The private staging copy of the package. A run configures the module sources (vGPU switch,
// disabled companions), builds and signs the modules and fills the install prefix into the unit
// template; doing that in the package itself would make the next run from the same package
// start from the previous run's choices.
#include <stdlib.h>

#include <cerrno>
#include <cstring>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/logger.h"

uint8_t DriverInstaller::stage(const std::string& from, const std::string& name, std::string& out) {
  if (staging.path.empty()) {
    std::string dir = "/tmp/quelvan-stage-XXXXXX";
    if (!mkdtemp(dir.data())) {
      zulogger::logger(ERROR, "Failed to create the staging directory %s: %s\n%s\n", dir.c_str(),
                       strerror(errno), code_banner(CODE_TMPFILE).c_str());
      return CODE_TMPFILE;
    }
    staging.path = dir;
  }
  out = staging.path + "/" + name;
  const std::string cmd = "rm -rf " + shell_quote(out) + " && cp -a " + shell_quote(from) + " " + shell_quote(out);
  std::string text;
  int status = 0;
  if (!exec(cmd, text, status)) {
    zulogger::logger(ERROR, "Failed to stage %s in %s: %s\n%s\n", from.c_str(), out.c_str(), text.c_str(),
                     code_banner(CODE_FILE_COPY).c_str());
    return CODE_FILE_COPY;
  }
  return CODE_SUCCESS;
}

uint8_t DriverInstaller::staged_kernel_sources(std::string& out) {
  if (!staging.path.empty() && isDirExists(staging.path + "/kernel")) {
    out = staging.path + "/kernel";
    return CODE_SUCCESS;
  }
  return stage(getCurrentExeDirectory() + "/" + config.kernel_dir, "kernel", out);
}

std::string DriverInstaller::staged(const std::string& source) {
  if (staging.path.empty()) return source;
  const std::string copy = staging.path + "/" + source;
  return isFileExists(copy) ? copy : source;
}

StagingDir::~StagingDir() {
  if (path.empty()) return;
  std::string out;
  exec("rm -rf " + shell_quote(path), out);
}
