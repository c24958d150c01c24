// The second phase: firmware, the kernel modules (through DKMS or built here directly, signed
// when required, copied into the module tree and loaded), then the driver utilities.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/process_state.h"

namespace {

const char* const dracut_dir = "/etc/dracut.conf.d";
const char* const build_log = ".build_driver";

bool run(const std::string& cmd, std::string& out, int& status) {
  return exec(cmd, out, status, false);
}

}  // namespace

uint8_t DriverInstaller::StartInstallation() {
  const bool vgpu_ok = is_vgpu_kvm_supported();
  zulogger::logger(INFO, "is_vgpu_kvm_support:%d\n", vgpu_ok ? 1 : 0);
  if (!vgpu_ok && config.vgpu) {
    zulogger::logger(ERROR, "VGPU is not support on your system. Installing without vgpu support.\n");
    config.vgpu = false;
  }

  bool dkms = false;
  if (options.disable_dkms) {
    zulogger::logger(INFO, "dkms not installed or in side docker. manually build driver. disable_dkms:%d\n", 1);
  } else if (!whichBinary("dkms").empty() && environment != 2) {
    zulogger::logger(INFO, "dkms installed and not in docker. use dkms to build driver. disable_dkms:%d\n", 0);
    dkms = true;
  } else {
    zulogger::logger(INFO, "dkms not installed or in side docker. manually build driver. disable_dkms:%d\n", 0);
  }

  // The new modules are built (and signed) before anything of the previous installation is
  // touched: a failed build leaves that installation loaded and its record unchanged.
  uint8_t code = dkms ? dkms_prebuild() : build_driver_modules();
  if (code != 0) return code;
  if ((code = UninstallOstrel()) != 0) return code;
  previous_removed = true;
  process_state.digests.clear();
  // The removal takes away an emptied prefix of the same path.
  if ((code = make_prefix()) != 0) return code;

  // Keep the driver out of the initial RAM disk.
  if (!whichBinary("dracut").empty()) {
    const std::string dir = host::path(dracut_dir);
    if (!isDirExists(dir)) {
      createDir(dir);
      installed.push_back({"DIR", dir, ""});
    }
    const std::string file = dir + "/quelvan.conf";
    const std::string cmd = "echo 'omit_drivers+=\" quelvan \"' >> " + shell_quote(file);
    std::string out;
    int status = 0;
    if (!run(cmd + " 2>&1", out, status)) {
      zulogger::logger(FATAL, "Add dracut configuration failed. Quelvan driver might be added into initrd.\n");
      zulogger::logger(ERROR, "command:%s : error code: %d --> error message: %s\n", cmd.c_str(), status,
                       out.c_str());
    } else {
      installed.push_back({"FILE", file, md5sum(file)});
    }
  }

  if ((code = install_fw()) != 0) return code;
  if (config.vgpu) {
    zulogger::logger(INFO, "Quelvan with VGPU depend on module :%s %s %s\n", "vfio", "kvm", "mdev");
    for (const char* name : {"vfio", "kvm", "mdev"}) do_modprobe_module(name, "");
  }
  code = dkms ? dkms_support() : install_driver_modules();
  return code == 0 ? install_driver_utils() : code;
}

bool DriverInstaller::is_vgpu_kvm_supported() {
  std::string out;
  return run_conftest(config, options, "vgpu_kvm_sanity_check", out, "VGPU_ENABLE=1");
}

uint8_t DriverInstaller::install_driver() {
  uint8_t code = build_driver_modules();
  return code != 0 ? code : install_driver_modules();
}

namespace {

// A module of the direct way: its name and its directory below the module sources.
struct Module {
  std::string name;
  std::string dir;
};

}  // namespace

// The companions to build: vtnfs where the NVMe driver offers its hook, vtn_peer_mem_drv where
// an OFED stack is installed and loaded.
static std::vector<Module> companions(DriverInstaller& d, bool building) {
  std::vector<Module> out;
  if (!d.config.disable_vtnfs && d.isNVMESupportGDS()) {
    if (building) zulogger::logger(INFO, "Building vtnfs...\n");
    out.push_back({"vtnfs", "/vtn_fs"});
  } else if (building) {
    zulogger::logger(INFO, "Skip vtnfs install ...... \n");
  }
  if (!d.config.disable_vtn_peer_mem_drv && d.check_is_ofed_installed() && d.get_module_status("ib_core") < 0) {
    if (building) zulogger::logger(INFO, "Building vtn_peer_mem_drv...\n");
    out.push_back({"vtn_peer_mem_drv", "/vtn_peer_mem"});
  } else if (building) {
    zulogger::logger(INFO, "Skip vtn_peer_mem_drv manual build and install ...... \n");
  }
  return out;
}

uint8_t DriverInstaller::build_driver_modules() {
  std::string source;
  if (uint8_t code = staged_kernel_sources(source); code != 0) return code;
  zulogger::logger(INFO, "Building %s\n", config.module_name.c_str());
  std::vector<Module> modules = {{config.module_name, ""}};
  for (const Module& m : companions(*this, true)) modules.push_back(m);
  for (const Module& m : modules) {
    if (uint8_t code = build_module(m.name, source + m.dir); code != 0) {
      zulogger::logger(ERROR, "install_driver not properly. %s: %d\n", m.name.c_str(), code);
      return code;
    }
  }
  // Saved at once: a later failure must not lose the pair the modules are signed with.
  if (config.sign_module && options.key_pair_generated) save_module_sign_key();
  return CODE_SUCCESS;
}

uint8_t DriverInstaller::install_driver_modules() {
  std::string source;
  if (uint8_t code = staged_kernel_sources(source); code != 0) return code;
  const std::string& main = config.module_name;
  uint8_t a = install_module(main, source, false);
  const bool unverified = a == CODE_SIGN_MODULE_FILE && config.sign_module;
  if (a != 0) {
    zulogger::logger(ERROR, "install_driver not properly. %s: %d\n", main.c_str(), a);
    if (!unverified) {
      zulogger::logger(ERROR, "Load kernel module %s failed.\n%s\n", main.c_str(),
                       "----------------------------------  ERROR CODE (status)  ----------------------------------");
      return a;
    }
    zulogger::logger(ERROR, "Load signed kernel module %s failed, possibly because the kernel does not trust the key.\n%s\n",
                     main.c_str(), code_banner(CODE_SIGN_MODULE_FILE).c_str());
  }

  // Companions: after a refused signature they are only installed. A companion's failure is
  // kept even when a later companion succeeds.
  for (const Module& m : companions(*this, false)) {
    if (unverified && m.name == "vtn_peer_mem_drv")
      zulogger::logger(ERROR, "Module loading failed due to unverified signature.\n%s\n",
                       code_banner(CODE_SIGN_MODULE_FILE).c_str());
    uint8_t r = install_module(m.name, source + m.dir, unverified);
    if (!unverified && a == 0) a = r;
  }

  if (config.sign_module) {
    if (options.key_pair_generated)
      zulogger::logger(RECORD, "The key pair is generated. In order to load driver module. Please enroll public key first.\n");
    zulogger::logger(INFO, "Module is signed by:\n\tPrivate Key:%s\n\tPublic Key: %s\n\n",
                     options.module_signing_secret_key.c_str(), options.module_signing_public_key.c_str());
  }
  return a;
}

uint8_t DriverInstaller::build_module(const std::string& name, const std::string& source_dir) {
  const std::string extra = config.vgpu ? " VGPU_ENABLE=1 " : " ";
  // The build log lies in the staging directory, beside the sources.
  const std::string log = (staging.path.empty() ? std::string(".") : staging.path) + "/" + build_log;
  std::string cmd = "make -C " + shell_quote(source_dir) + extra;
  if (name == "vtn_peer_mem_drv") {
    std::string ofed;
    if (!get_ofed_source_path(ofed)) {
      zulogger::logger(ERROR, "Failed to build driver.\n%s\n", code_banner(CODE_MODULE_COMPILE).c_str());
      return CODE_MODULE_COMPILE;
    }
    cmd += " OFA_KERNEL=" + shell_quote(ofed);
    cmd += " > " + shell_quote(log) + " 2>&1";
    zulogger::logger(INFO, "manual compile VTN_PEER_MEM_DRV: cmd :%s\n", cmd.c_str());
  } else {
    cmd += " > " + shell_quote(log) + " 2>&1";
  }

  zulogger::logger(INFO, "Start to build driver: %s\n", name.c_str());
  std::string out;
  int status = 0;
  const bool built = run(cmd, out, status);
  cachedFile(log, out);
  zulogger::logger(INFO, "cmd: %s, output: %s\n", cmd.c_str(), out.c_str());
  if (!built) {
    zulogger::logger(ERROR, "Failed to build driver.\n%s\n", code_banner(CODE_MODULE_COMPILE).c_str());
    return CODE_MODULE_COMPILE;
  }

  const std::string module = source_dir + "/" + name + ".ko";
  if (config.sign_module) {
    zulogger::logger(INFO, "do sign module\n");
    if (uint8_t r = do_sign_module(module); r != 0) {
      zulogger::logger(ERROR, "sign module failed: %s\n%s\n", module.c_str(),
                       code_banner(CODE_SIGN_MODULE).c_str());
      return r;
    }
  }
  return CODE_SUCCESS;
}

uint8_t DriverInstaller::install_module(const std::string& name, const std::string& source_dir,
                                        bool skip_load) {
  const std::string running = host::kernel_release();
  const std::string module = source_dir + "/" + name + ".ko";
  std::string out;
  int status = 0;
  zulogger::logger(INFO, "Start to install driver: %s\n", name.c_str());
  const std::string dest = host::path("/lib/modules/" + config.kernel_version + "/kernel/drivers/misc/");
  if (!isDirExists(dest)) createDir(dest);
  const std::string copy = "cp -f " + shell_quote(module) + " " + shell_quote(dest) + "   > /dev/null 2>&1";
  if (!run(copy, out, status)) {
    zulogger::logger(ERROR, "Failed to install driver in %s.\n%s\n%s\n", dest.c_str(), copy.c_str(),
                     code_banner(CODE_MODULE_INSTALL).c_str());
    return CODE_MODULE_INSTALL;
  }
  const std::string file = dest + name + ".ko";
  installed.push_back({"FILE", file, cached_md5(file)});

  // The dependency lists of the kernel the module was installed for, which need not be the
  // running one.
  if (!run("depmod " + shell_quote(config.kernel_version) + " 2>&1", out, status)) {
    zulogger::logger(ERROR, "Failed to depmod, modprobe/modinfo might cant find %s:\n%s\n%s\n",
                     config.module_name.c_str(), out.c_str(), code_banner(CODE_DEPENDENCY_MODULE).c_str());
    return CODE_DEPENDENCY_MODULE;
  }
  if (skip_load) {
    zulogger::logger(INFO, "Skip load module %s\n", name.c_str());
    return CODE_SUCCESS;
  }
  if (config.kernel_version != running) {
    zulogger::logger(ERROR, "Configured kernel source %s is not the running one. skip module install.\n%s\n",
                     config.kernel_version.c_str(), code_banner(CODE_KERNEL_SOURCE_MISMATCH).c_str());
    return CODE_KERNEL_SOURCE_MISMATCH;
  }

  get_driver_version(file);
  const time_t since = time(nullptr);
  zulogger::logger(INFO, "insmod:%s params:%s\n", file.c_str(), modprobe_params.c_str());
  const int e = do_insmod(file.c_str(), modprobe_params.c_str());
  if (e != 0) {
    const char* text = e == 2    ? "Unknown symbol in module or unknown parameter (see dmesg)"
                       : e == 17 ? "Module already in kernel"
                                 : strerror(e);
    zulogger::logger(FATAL, "Module load failed. error: %s\n", text);
    if (e >= ENOKEY && e <= EKEYREJECTED) {
      zulogger::logger(ERROR, "Try insmod %s failed due to module sign. %d %s\n%s\n", name.c_str(), e,
                       strerror(e), config.kernel_version.c_str());
      return CODE_SIGN_MODULE_FILE;
    }
    zulogger::logger(ERROR, "Module insertion failed, try insmod %s %d %s\n%s\n", name.c_str(), e, text,
                     config.kernel_version.c_str());
    log_dmesg(since);
    return CODE_MODULE_INSERTION;
  }
  zulogger::logger(INFO, "Install %s succeed.\n", name.c_str());
  if (!do_check_firmware()) {
    zulogger::logger(FATAL, "No card with suitable firmware found. Driver's install might wrong\n%s\n",
                     code_banner(CODE_FIRMWARE_VERSION).c_str());
    return CODE_FIRMWARE_VERSION;
  }
  return CODE_SUCCESS;
}
