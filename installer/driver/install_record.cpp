// The uninstall record of a driver installation.
#include <libgen.h>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"

std::vector<std::string> DriverInstaller::driver_sortFileinfoToString(
    const std::vector<FileInfo>& records, const std::string& prefix) {
  return manifest_lines(records, prefix, true, {"SERVICE", "SYMLINK", "", "RFILE", "RLINK", "DIR"});
}

uint8_t DriverInstaller::saveInstalledInfo() {
  std::string copy = options.install_path;
  if (std::string(basename(copy.data())) != std::string("ostrel-") + ostrel_version)
    installed.push_back({"DIR", prefix, ""});
  installed.push_back({"DIR", options.install_path, ""});
  installed.insert(installed.end(), created_dirs.begin(), created_dirs.end());

  std::vector<std::string> lines = driver_sortFileinfoToString(installed, prefix);
  // Without a representable install path the records are still written; the uninstaller then
  // protects the reserved files of the default install directory.
  if (manifest_representable(prefix)) lines.insert(lines.begin(), manifest_line({"OSTREL", prefix, ""}));
  const std::string manifest = host::path(uninstall_manifest_path);
  if (!stringToFile(lines, manifest)) {
    zulogger::logger(ERROR, "Failed to write the uninstall manifest %s; the previous one is kept.\n%s\n",
                     manifest.c_str(), code_banner(CODE_MANIFEST_WRITE).c_str());
    return CODE_MANIFEST_WRITE;
  }
  return CODE_SUCCESS;
}
