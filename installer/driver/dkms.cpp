// The DKMS way of building the modules: the package's sources registered with DKMS, built and
// installed for the target kernel, the boot-time module configuration, and the loading.
#include <cctype>
#include <cstring>
#include <ctime>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/uninstall.h"

namespace {

const char* const dkms_module = "ostrel";
const char* const modules_load_conf = "/etc/modules-load.d/quelvan.conf";
const char* const modprobe_conf = "/etc/modprobe.d/quelvan.conf";

// A version word that can stand in paths and command lines as it is.
bool plain_version(const std::string& v) {
  if (v.empty() || v == "." || v == "..") return false;
  for (char c : v)
    if (!isalnum(static_cast<unsigned char>(c)) && !strchr("._+~-", c)) return false;
  return true;
}

bool run(const std::string& cmd, std::string& out) {
  int status = 0;
  return exec(cmd, out, status, false);
}

}  // namespace

// The make log of a failed "dkms build" in tree, when DKMS left one: 34, otherwise 45.
static uint8_t dkms_build_failure(const std::string& module_name, const std::string& module_dir) {
  zulogger::logger(ERROR, "Driver module %s compile failed: %s\n", module_name.c_str(),
                   code_banner(CODE_MODULE_COMPILE).c_str());
  const std::string log = module_dir + "/build/make.log";
  std::string text;
  if (isFileExists(log) && cachedFile(log, text)) {
    zulogger::logger(ERROR, "failed to build driver. error message: %s\n", text.c_str());
    return CODE_MODULE_COMPILE;
  }
  zulogger::logger(ERROR, "dkms compile file %s not found.\n%s\n", log.c_str(),
                   code_banner(CODE_DKMS_BUILD).c_str());
  return CODE_DKMS_BUILD;
}

uint8_t DriverInstaller::dkms_prebuild() {
  std::string kernel;
  if (uint8_t code = staged_kernel_sources(kernel); code != 0) return code;
  const std::string conf = kernel + "/dkms.conf";

  // The package's own version; a missing or unusable one falls back to the shipped version.
  std::string version;
  if (!run("bash -c " + shell_quote("source " + shell_quote(conf) + " 2>&1 && echo -n ${PACKAGE_VERSION}"),
           version) ||
      version.empty()) {
    version = ostrel_version;
  } else if (!plain_version(version)) {
    zulogger::logger(WARNING, "PACKAGE_VERSION '%s' of %s is not a plain version word, using %s.\n",
                     version.c_str(), conf.c_str(), ostrel_version);
    version = ostrel_version;
  }
  dkms_version = version;

  std::string out;
  const std::string sed = std::string("sed -i 's/OSTRELPLACEHOLDER/") +
                          (config.vgpu ? "VGPU_ENABLE=1" : "") + "/' " + shell_quote(conf);
  zulogger::logger(INFO, "dkms support: cmd :%s\n", sed.c_str());
  if (!run(sed + " 2>&1", out)) {
    zulogger::logger(ERROR, "Replace dkms params failed: cmd :%s %s\n%s\n", sed.c_str(), out.c_str(),
                     code_banner(CODE_DKMS_PARAMS).c_str());
    return CODE_DKMS_PARAMS;
  }

  // Disabled companions lose their (staged) sources so that DKMS never builds them.
  struct Companion {
    const char* dir;
    bool disabled;
    const char* name;
  };
  for (Companion c : {Companion{"/vtn_peer_mem", config.disable_vtn_peer_mem_drv, "vtn_peer_mem"},
                      Companion{"/vtn_fs", config.disable_vtnfs, "vtn_fs"}}) {
    const std::string dir = kernel + c.dir;
    if (!c.disabled || !isDirExists(dir)) continue;
    zulogger::logger(INFO, "disable %s, remove source files and prohibit installation.\n", c.name);
    const std::string rm = "rm -rf " + shell_quote(dir);
    if (!run(rm + " 2>&1", out)) {
      zulogger::logger(ERROR, "Failed to delete %s source files:%s %s\n%s\n", c.name, rm.c_str(),
                       out.c_str(), code_banner(CODE_REMOVE_CONFIG).c_str());
      return CODE_REMOVE_CONFIG;
    }
  }

  // The trial build, in DKMS trees of the staging directory, so that a failure touches nothing
  // of the host's DKMS registrations.
  const std::string trees = " --dkmstree " + shell_quote(staging.path + "/dkms") + " --sourcetree " +
                            shell_quote(staging.path + "/src");
  const std::string source = staging.path + "/src/" + dkms_module + "-" + version;
  zulogger::logger(INFO, "Start building driver in the staging directory %s...\n", staging.path.c_str());
  if (!run("mkdir -p " + shell_quote(staging.path + "/dkms") + " " + shell_quote(staging.path + "/src") + " && rm -rf " +
               shell_quote(source) + " && cp -a " + shell_quote(kernel) + " " + shell_quote(source) + " 2>&1",
           out) ||
      !run("dkms add -m ostrel -v " + shell_quote(version) + trees + " > /dev/null 2>&1", out)) {
    zulogger::logger(ERROR, "dkms add failed: %s\n%s\n", out.c_str(), code_banner(CODE_DKMS_BUILD).c_str());
    return CODE_DKMS_BUILD;
  }
  if (!run("dkms build ostrel/" + shell_quote(version) + " -k " + shell_quote(config.kernel_version) + trees +
               " > /dev/null 2>&1",
           out))
    return dkms_build_failure(config.module_name, staging.path + "/dkms/" + dkms_module + "/" + version);
  return CODE_SUCCESS;
}

uint8_t DriverInstaller::dkms_support() {
  std::string kernel;
  if (uint8_t code = staged_kernel_sources(kernel); code != 0) return code;
  if (dkms_version.empty()) {
    if (uint8_t code = dkms_prebuild(); code != 0) return code;
  }
  const std::string& version = dkms_version;
  const DkmsConfig dkms = parse_dkms_conf();
  const std::string source_tree = host::path(dkms.source_tree);
  const std::string dkms_tree = host::path(dkms.dkms_tree);
  std::string out;
  // Only this version's registration, which the new one replaces; other versions are not
  // known to be ours unless a record said so (the removal of the previous installation).
  if (isDirExists(dkms_tree + "/" + dkms_module + "/" + version)) {
    int status = 0;
    exec("dkms remove " + shell_quote(std::string(dkms_module) + "/" + version) + " --all 2>&1", out, status, false);
  }
  run("rm -rf " + shell_quote(source_tree + "/" + dkms_module + "-" + version), out);

  zulogger::logger(INFO, "Using module version is %s\n", version.c_str());
  zulogger::logger(INFO, "Start to install driver source.\n");
  const std::string dest = source_tree + "/" + dkms_module + "-" + version;
  createDir(dest);
  if (!isDirExists(dest)) {
    zulogger::logger(FATAL, "create dkms source files failed: %s\n", dest.c_str());
    return CODE_CREATE_DIR;
  }
  if (!run("cp -fr " + shell_quote(kernel) + "/* " + shell_quote(dest) + "  > /dev/null 2>&1", out)) {
    zulogger::logger(ERROR, "copy driver source failed: %s\n%s\n", out.c_str(),
                     code_banner(CODE_FILE_COPY).c_str());
    return CODE_FILE_COPY;
  }

  zulogger::logger(INFO, "Start add driver to dkms...\n");
  if (!run("dkms add -m ostrel -v " + shell_quote(version) + " --force  > /dev/null 2>&1", out)) {
    zulogger::logger(ERROR, "dkms add failed: %s\n%s\n", out.c_str(), code_banner(CODE_DKMS_BUILD).c_str());
    return CODE_DKMS_BUILD;
  }
  installed.push_back({"DKMS", version, ""});

  const std::string kv = shell_quote(config.kernel_version);
  const std::string module_dir = dkms_tree + "/" + dkms_module + "/" + version;
  zulogger::logger(INFO, "Start building driver to dkms...\n");
  if (!run("dkms build ostrel/" + shell_quote(version) + " -k " + kv + "  > /dev/null 2>&1", out))
    return dkms_build_failure(config.module_name, module_dir);
  zulogger::logger(INFO, "dkms build success.\n");
  const std::string log = module_dir + "/" + config.kernel_version + "/" + getArch() + "/log/make.log";
  std::string text;
  if (!isFileExists(log))
    zulogger::logger(WARNING, "dkms compile file %s not found.\n", log.c_str());
  else
    cachedFile(log, text);
  zulogger::logger(INFO, "%s\n\n", text.c_str());

  addModuleToConfFile();

  zulogger::logger(INFO, "Start installing driver to dkms...\n");
  const std::string install = "dkms install ostrel/" + shell_quote(version) + " -k " + kv + " --force";
  if (!run(install + "  > /dev/null 2>&1", out)) {
    zulogger::logger(ERROR, "dkms install driver failed: %s\n%s\n", out.c_str(),
                     code_banner(CODE_DKMS_INSTALL).c_str());
    return CODE_DKMS_INSTALL;
  }
  zulogger::logger(INFO, "%s success.\n%s", install.c_str(), out.c_str());

  if (config.kernel_version != host::kernel_release()) {
    zulogger::logger(ERROR, "Configured kernel source %s is not the running one. skip module install.\n%s\n",
                     config.kernel_version.c_str(), code_banner(CODE_KERNEL_SOURCE_MISMATCH).c_str());
    return CODE_KERNEL_SOURCE_MISMATCH;
  }

  for (const std::string& name : {std::string("vtnfs"), std::string("vtn_peer_mem_drv"), config.module_name})
    if (get_module_status(name) != 0) {
      // A module that stays loaded makes the modprobe below fail, and that failure is reported.
      [[maybe_unused]] const int unloaded = system(("rmmod " + shell_quote(name) + " 2>/dev/null").c_str());
    }

  const time_t since = time(nullptr);
  if (do_modprobe_module(config.module_name, modprobe_params) != 0) {
    log_dmesg(since);
    zulogger::logger(ERROR, "Module insertion failed, Try insmod %s\n%s\n", config.module_name.c_str(),
                     code_banner(CODE_MODULE_INSERTION).c_str());
    return CODE_MODULE_INSERTION;
  }
  if (config.disable_vtnfs || !isNVMESupportGDS()) {
    zulogger::logger(INFO, "Skip modprobe vtnfs install ...... \n");
  } else if (do_modprobe_module("vtnfs", "") != 0) {
    log_dmesg(since);
    zulogger::logger(ERROR, "Module insertion failed.\n%s\n", code_banner(CODE_MODULE_INSERTION).c_str());
    return CODE_MODULE_INSERTION;
  }
  if (!config.disable_vtn_peer_mem_drv && check_is_ofed_installed() && get_module_status("ib_core") < 0) {
    if (do_modprobe_module("vtn_peer_mem_drv", "") != 0) {
      log_dmesg(since);
      zulogger::logger(ERROR, "Module insertion failed, Try insmod %s\n%s\n", "vtn_peer_mem_drv",
                       code_banner(CODE_MODULE_INSERTION).c_str());
      return CODE_MODULE_INSERTION;
    }
  } else {
    zulogger::logger(INFO, "Skip modprobe vtn_peer_mem_drv install ...... \n");
  }

  if (!do_check_firmware()) {
    zulogger::logger(ERROR, "No card with suitable firmware found. Driver's install might wrong\n%s\n",
                     code_banner(CODE_FIRMWARE_VERSION).c_str());
    return CODE_FIRMWARE_VERSION;
  }
  return CODE_SUCCESS;
}

void DriverInstaller::addModuleToConfFile() {
  const std::string load_conf = host::path(modules_load_conf);
  std::string out;
  run("echo quelvan > " + shell_quote(load_conf), out);
  if (get_module_status("vtn_peer_mem_drv") != 0)
    run("echo vtn_peer_mem_drv>> " + shell_quote(load_conf), out);
  if (get_module_status("vtnfs") != 0) run("echo vtnfs>> " + shell_quote(load_conf), out);
  installed.push_back({"FILE", load_conf, cached_md5(load_conf)});
  if (!modprobe_params.empty()) {
    const std::string options_conf = host::path(modprobe_conf);
    run("echo " + shell_quote("options quelvan " + modprobe_params) + " > " + shell_quote(options_conf), out);
    installed.push_back({"FILE", options_conf, cached_md5(options_conf)});
  }
}
