#include "installer/driver/driver_installer.h"

#include <libgen.h>

#include "installer/codes.h"
#include "installer/driver/text_readers.h"
#include "installer/logger.h"

const std::vector<Params> MODPROBE_PARAMS = {
    {"vgpu_enable=1", false},
};

const Util __utils[17] = {
    {"ldconfig", "glibc", false},
    {"ldd", "glibc", false},
    {"grep", "grep", false},
    {"dmesg", "util-linux", false},
    {"tail", "coreutils", false},
    {"cut", "coreutils", false},
    {"tr", "coreutils", false},
    {"sed", "sed", false},
    {"objcopy", "binutils", false},
    {"insmod", "module-init-tools' or 'kmod", false},
    {"modprobe", "module-init-tools' or 'kmod", false},
    {"rmmod", "module-init-tools' or 'kmod", false},
    {"lsmod", "module-init-tools' or 'kmod", false},
    {"depmod", "module-init-tools' or 'kmod", false},
    {"gcc", "gcc", false},
    {"make", "make", false},
    {"ld", "binutils", false},
};

// POSIX basename, which ignores trailing "/" (zu_basename does not).
static std::string posix_basename(const std::string& path) {
  std::string copy = path;
  return basename(copy.data());
}

DriverInstaller::DriverInstaller(driverOptions opts) : options(std::move(opts)) {
  std::string& install_path = options.install_path;
  if (install_path.empty() || install_path.back() != '/') install_path += "/";
  const std::string versioned = std::string("ostrel-") + ostrel_version;
  prefix = posix_basename(install_path) == versioned ? install_path
                                                     : install_path + versioned + "/";
  zulogger::logger(INFO, "driver install path is %s.\n", prefix.c_str());
  modprobe_params = build_modprobe_params();
  DistributionInfo info;
  getDistribution(info);
  distribution = info.id;
}

std::string DriverInstaller::build_modprobe_params() {
  std::string params;
  for (const auto& p : MODPROBE_PARAMS) {
    if (!p.enabled) continue;
    if (!params.empty()) params += " ";
    params += p.param;
  }
  zulogger::logger(INFO, "PARAMS:/%s/\n", params.c_str());
  return params;
}

driverConfig DriverInstaller::parse_manifest(const std::string& path) {
  driverConfig cfg;
  std::string text;
  if (cachedFile(path, text)) {
    // Every line is needed: an empty version makes PreInstallation reject the package.
    if (!package_manifest_from_text(text, cfg))
      zulogger::logger(ERROR, "Manifest %s holds %zu lines, 4 expected.\n", path.c_str(),
                       split(text, '\n').size());
  } else {
    cfg.description = "Ostrel Driver for Linux-x86_64";
    cfg.version = "4.3.0";
    cfg.module_name = "quelvan";
    cfg.kernel_dir = "./kernel/";
    zulogger::logger(WARNING, "Initializing driverConfig using default values. This driver "
                     "installation package maybe incomplete.\n");
  }
  return cfg;
}

std::string DriverInstaller::getPrefix() { return prefix; }

bool DriverInstaller::is_depends_available() {
  std::vector<Util> utils(std::begin(__utils), std::end(__utils));
  return checkUtils(utils.data(), utils.size());
}

bool DriverInstaller::is_driver_already_installed(const std::string& name) {
  return get_module_status(name) < 0;
}
