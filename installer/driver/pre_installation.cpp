// Pre-installation checks: the package manifest, the kernel sources and release, the build
// tools and compiler, the install prefix and whether the modules must be signed. Also the
// package's configuration test runner.
#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/driver/text_readers.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/process_state.h"

namespace {

const char* const kernel_source_hint =
    "Please make sure you have installed the kernel source files for your kernel and that they "
    "are properly configured; on Red Hat Linux systems, for example, be sure you have the "
    "'kernel-source' or 'kernel-devel' RPM installed.  If you know the correct kernel source "
    "files are installed, you may specify the kernel source path with the "
    "'--kernel-source-path' command line option.";

uint8_t fail(uint8_t code, const char* fmt, const std::string& a = "",
             const std::string& b = "") {
  const std::string banner = code_banner(code);
  if (b.empty() && a.empty())
    zulogger::logger(ERROR, fmt, banner.c_str());
  else if (b.empty())
    zulogger::logger(ERROR, fmt, a.c_str(), banner.c_str());
  else
    zulogger::logger(ERROR, fmt, a.c_str(), b.c_str(), banner.c_str());
  return code;
}

}  // namespace

uint8_t DriverInstaller::PreInstallation() {
  const std::string manifest = getCurrentExeDirectory() + "/" + manifest_name;
  if (!isFileExists(manifest))
    return fail(CODE_MANIFEST_PARSE, "Manifest file not found: %s\n%s\n", manifest);
  config = parse_manifest(manifest);
  config.vgpu = options.with_vgpu;
  config.disable_vtnfs = options.disable_vtnfs;
  config.disable_vtn_peer_mem_drv = options.disable_vtn_peer_mem_drv;
  config.no_systemd = options.no_systemd;
  arch = getArch();
  if (config.arch.empty()) config.arch = arch;
  if (config.version.empty())
    return fail(CODE_MANIFEST_PARSE,
                "Failed parse manifest %s, potential configuration or packaging error.\n%s\n",
                manifest);

  if (is_inside_docker()) {
    environment = 2;
    zulogger::logger(ERROR, "You're install driver inside docker, the installation may be corrupt.\n%s\n",
                     code_banner(CODE_IN_DOCKER).c_str());
  } else {
    environment = 1;
  }

  if (options.kernel_source_path.empty()) options.kernel_source_path = get_default_kernel_source();
  options.kernel_output_path = get_default_kernel_output(options.kernel_source_path);
  zulogger::logger(INFO, "Using kernel source: <<%s>> kernel output: <<%s>>\n",
                   options.kernel_source_path.c_str(), options.kernel_output_path.c_str());
  if (!is_kernel_source_ready(options.kernel_source_path, options.kernel_output_path))
    return fail(CODE_KERNEL_SOURCE_NOT_READY, "kernel source is not ready.\n%s\n");
  if (uint8_t code = getKernelVersion(); code != 0)
    return fail(code, "kernel version is failed.\n%s\n");
  if (!is_depends_available())
    return fail(CODE_MISSING_DEPENDENCIES, "Missing dependencies; not all toolkit files found.\n%s\n");
  if (!is_gcc_matched()) return fail(CODE_GCC_MISMATCH, "GCC version mismatch.\n%s\n");

  // The previous installation is removed later, once the new modules are built (StartInstallation).
  if (uint8_t code = make_prefix(); code != 0) return code;

  config.sign_module = false;
  zulogger::logger(INFO, "do check module sign prepare\n");
  const std::string& secret = options.module_signing_secret_key;
  const std::string& pub = options.module_signing_public_key;
  if (!secret.empty() && !pub.empty()) {
    zulogger::logger(INFO, "Check on private key:%s public key:%s\n", secret.c_str(), pub.c_str());
    if (!isFileExists(pub) || !isFileExists(secret))
      return fail(CODE_KEY_GENERATION,
                  "Module signature key given but not exists.\nPrivate Key:%s\nPublic Key:%s\n%s\n",
                  secret, pub);
    zulogger::logger(INFO, "module sign key not empty do module sign.\n");
    config.sign_module = true;
    options.disable_dkms = true;  // user keys sign only what the direct build makes
  } else if (test_kernel_config("CONFIG_MODULE_SIG_FORCE") == 1) {
    zulogger::logger(INFO, "CONFIG_MODULE_SIG_FORCE not empty do module sign.\n");
    config.sign_module = true;
  } else if (isNeedleInPayload(host::path("/proc/cmdline"), "module.sig_enforce=1")) {
    zulogger::logger(INFO, "module.sig_enforce set, do module sign.\n");
    config.sign_module = true;
  } else if (secure_boot_enabled() == 1) {
    zulogger::logger(INFO, "sb enabled do module sign\n");
    config.sign_module = true;
  } else {
    return CODE_SUCCESS;
  }
  if (whichBinary("openssl").empty())
    return fail(CODE_SIGN_MODULE, "openssl is requied when module sign is mandatory\n%s\n");
  return CODE_SUCCESS;
}

uint8_t DriverInstaller::make_prefix() {
  // An existing prefix (or the directory its link names) must be a directory; a missing one is
  // created and its new directories recorded.
  std::string bare = prefix;  // without its trailing "/", which a regular file would refuse
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  if (isFileExists(bare) || isSymlink(bare)) {
    const std::string examined = isSymlink(bare) ? getRealPath(bare) : prefix;
    if (!isDirExists(bare))
      return fail(CODE_TOOLKIT_DIR,
                  "Failed to specify install path directory (%s), ostrel configuration error.\n%s\n",
                  examined);
    return CODE_SUCCESS;
  }
  const std::string top = findNonExistParentDir(prefix);
  createDir(prefix);
  if (!isDirExists(prefix))
    return fail(CODE_CREATE_DIR, "Failed to create install path directory %s.\n%s\n", prefix);
  if (!top.empty()) {
    std::vector<FileInfo> tree = recursiveDir(top);
    created_dirs.insert(created_dirs.end(), tree.begin(), tree.end());
  }
  return CODE_SUCCESS;
}

bool DriverInstaller::is_kernel_source_ready(const std::string& source, const std::string& output) {
  if (source.empty()) return false;
  if (source == "/usr") {
    zulogger::logger(ERROR, "The kernel source path %s is invalid.\nThis should not be /usr",
                     source.c_str());
    return false;
  }
  const std::string header = source + "/include/linux/kernel.h";
  if (!isFileExists(header)) {
    zulogger::logger(ERROR,
                     "The kernel header file '%s' does not exist.  The most likely reason for "
                     "this is that the kernel source path '%s' is incorrect. %s",
                     header.c_str(), source.c_str(), kernel_source_hint);
    return false;
  }
  const std::string release = output + "/include/generated/utsrelease.h";
  if (!isFileExists(release)) {
    zulogger::logger(ERROR,
                     "The kernel version file '%s' does not exist.  The most likely reason for "
                     "this is that the kernel source path '%s' have not been configured. %s",
                     release.c_str(), output.c_str(), kernel_source_hint);
    return false;
  }
  return true;
}

uint8_t DriverInstaller::getKernelVersion() {
  const std::string file = options.kernel_output_path + "/include/generated/utsrelease.h";
  std::string text;
  if (cachedFile(file, text)) {
    const std::string release = kernel_release_from_header(text);
    if (!release.empty()) {
      config.kernel_version = release;
      return CODE_SUCCESS;
    }
  }
  zulogger::logger(ERROR, "Fetch kernel version from %s failed: %s\n", file.c_str(),
                   code_banner(CODE_KERNEL_SOURCE_NOT_READY).c_str());
  return CODE_KERNEL_SOURCE_NOT_READY;
}

bool DriverInstaller::is_gcc_matched() {
  std::string kernel, gcc;
  int status = 0;
  if (!exec("uname -r", kernel, status)) return false;
  if (!exec("gcc --version", gcc, status)) return false;
  zulogger::logger(INFO, "kernel version: %s\n", first_version(kernel).c_str());
  const std::string version = first_version(gcc);
  zulogger::logger(INFO, "gcc version: %s\n", version.c_str());
  if (compiler_major(version) <= 3) {
    zulogger::logger(ERROR, "Kernel version and gcc version didn't match. Please install kernel "
                            "and gcc with matching version.\n");
    return false;
  }
  return true;
}

int DriverInstaller::test_kernel_config(const std::string& option) {
  if (options.kernel_source_path.empty()) return 2;
  std::string out;
  return run_conftest(config, options, "test_configuration_option " + shell_quote(option), out, "")
             ? 1
             : 0;
}

bool DriverInstaller::run_conftest(const driverConfig& cfg, const driverOptions& opts,
                                   const std::string& args, std::string& out,
                                   const std::string& env_prefix) {
  const std::string script = getCurrentExeDirectory() + "/" + cfg.kernel_dir + "/vtn/kernel_test.sh";
  const std::string cmd = env_prefix + " sh " + shell_quote(script) + " " + shell_quote("gcc") +
                          " " + shell_quote(cfg.arch) + " " + shell_quote(opts.kernel_source_path) +
                          " " + shell_quote(opts.kernel_source_path) + "  " + args + " 2>&1";
  std::string output;
  int status = -1;
  bool ok = exec(cmd, output, status, false);
  zulogger::logger(INFO, "running cmd:%s ...\n                             output: <<%s>> \n",
                   cmd.c_str(), output.c_str());
  if (!ok) return false;
  if (!output.empty() && output.back() == '\n') output.pop_back();
  out = output;
  return status == 0;
}

bool DriverInstaller::guess_module_signing_hash(std::string& hash) {
  std::string out;
  if (run_conftest(config, options, "guess_module_signing_hash", out, "")) {
    hash = out;
    return true;
  }
  zulogger::logger(INFO, "running conftest failed: cmd:%s\n", "guess_module_signing_hash");
  hash.clear();
  return false;
}
