// Installation of the driver utilities tree into the install prefix.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/logger.h"

uint8_t DriverInstaller::install_driver_utils() {
  std::string cmd = "cp -r ./ostrel/* " + shell_quote(prefix);
  std::string out;
  int status = 0;
  bool ok = exec(cmd, out, status);
  zulogger::logger(INFO, "install driver utils: %s\n", cmd.c_str());
  if (!ok) {
    zulogger::logger(ERROR, "Executing cmd %s failed. \n%s\n", cmd.c_str(), code_banner(CODE_FILE_COPY).c_str());
    return CODE_FILE_COPY;
  }

  const std::string tree = "ostrel/";
  for (FileInfo f : recursiveDir("ostrel")) {
    if (f.path.compare(0, tree.size(), tree) != 0) continue;  // the tree's own DIR record
    f.path = prefix + f.path.substr(tree.size());
    struct stat st;
    if (lstat(f.path.c_str(), &st) == 0) installed.push_back(f);
  }

  const std::string link = prefix + "/lib";
  if (isSymlink(link) || isFileExists(link)) {
    zulogger::logger(INFO, "symlink %s already be taken, skip symlink generate\n", link.c_str());
  } else {
    zulogger::logger(INFO, "Create symlink %s -> lib64\n", link.c_str());
    if (symlink("lib64", link.c_str()) != 0)
      zulogger::logger(WARNING, "create symlink failed: error code: %d --> error message: %s\n",
                       errno, strerror(errno));
  }
  installed.push_back({"SYMLINK", link, ""});
  return CODE_SUCCESS;
}
