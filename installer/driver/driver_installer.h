// The driver installation engine: checks the host, builds and signs the kernel modules (through
// DKMS or directly) in a private staging copy of the package, only then removes a previous
// driver, installs firmware, installs and loads the modules, checks the GPU firmware, installs
// the utilities and the systemd unit and records every installed item.
//
// A driver-mode entry constructs one DriverInstaller from the user's driverOptions and runs
// PreInstallation, StartInstallation and PostInstallation, each only after the previous one
// returned 0, then saveInstalledInfo.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "installer/records.h"
#include "installer/utils.h"

// The options of one driver installation, as the entry fills them.
struct driverOptions {
  bool key_pair_generated = false;  // module signing generated a new pair
  bool disable_dkms = false;        // build directly, never through DKMS
  bool with_vgpu = false;
  bool disable_vtnfs = false;
  bool disable_vtn_peer_mem_drv = false;
  bool no_systemd = false;
  std::string kernel_source_path;  // "" selects the default
  std::string kernel_output_path;  // recomputed by PreInstallation
  std::string install_path;        // must not be empty; gets a trailing "/"
  std::string module_signing_secret_key;
  std::string module_signing_public_key;  // DER certificate
  std::string module_signing_hash;        // "" to have it guessed
};

// The driver package's configuration: the manifest lines plus what PreInstallation decides.
struct driverConfig {
  std::string module_name;     // manifest line 3
  std::string version;         // manifest line 2
  std::string description;     // manifest line 1
  std::string kernel_dir;      // manifest line 4, relative to the executable's directory
  std::string kernel_version;  // release of the target kernel
  std::string arch;
  bool vgpu = false;
  bool disable_vtnfs = false;
  bool disable_vtn_peer_mem_drv = false;
  bool no_systemd = false;
  bool sign_module = false;
};

// One kernel-module parameter.
struct Params {
  std::string param;  // name=value
  bool enabled;
};
// The module parameters; the enabled ones are joined into modprobe_params.
extern const std::vector<Params> MODPROBE_PARAMS;

// One file copy of a unit: source relative to the working directory, destination a directory
// (a relative one lies below the install prefix).
struct file_trans {
  const char* source;
  const char* destination;
};
// The copies of the driver's unit: the unit template and its two scripts.
extern const file_trans fts[3];

// One systemd unit to install.
struct Service {
  std::string name;          // unit instance name
  const file_trans* files;   // the unit's files
  unsigned file_count : 2;   // entries of files to copy
  signed expected_status : 8;             // -128: no status check
  unsigned expected_process_status : 8;   // with a non-zero expected_status
};

// The required system utilities of a driver build. Constant: each check takes a copy and
// reads the found flags from it, so no flag outlives the check.
extern const Util __utils[17];

// The driver's uninstall manifest (a fixed host path).
inline constexpr const char* uninstall_manifest_path =
    "/var/log/quelvanostrel/uninstall/.driver_uninstall_manifests";
// Where a generated module-signing key pair is saved (a fixed host path). It outlives
// reinstalls, so a key enrolled for Secure Boot stays valid.
inline constexpr const char* module_key_dir = "/usr/share/quelvan";

// The private staging directory of one installation: removed with its owner; moved, never
// copied, so that no copy removes it while the other still works in it.
struct StagingDir {
  std::string path;  // "" until first used
  StagingDir() = default;
  StagingDir(const StagingDir&) = delete;
  StagingDir& operator=(const StagingDir&) = delete;
  StagingDir(StagingDir&& o) noexcept : path(std::move(o.path)) { o.path.clear(); }
  StagingDir& operator=(StagingDir&& o) noexcept {
    std::swap(path, o.path);
    return *this;
  }
  ~StagingDir();
};

class Installer {
 public:
  virtual uint8_t PreInstallation() = 0;
  virtual uint8_t StartInstallation() = 0;
  virtual uint8_t PostInstallation() = 0;

 protected:
  // Not virtual: an engine is destroyed through its own type.
  ~Installer() = default;
};

class DriverInstaller : public Installer {
 public:
  explicit DriverInstaller(driverOptions opts);

  // ---- Phases ------------------------------------------------------------------------------
  uint8_t PreInstallation() override;    // checks, prefix
  uint8_t StartInstallation() override;  // build, removal of a previous driver, firmware, modules, utilities
  uint8_t PostInstallation() override;   // systemd unit
  uint8_t saveInstalledInfo();           // writes the uninstall manifest; 0 or 55

  std::string getPrefix();
  bool is_depends_available();                              // every __utils entry found
  bool is_driver_already_installed(const std::string& name);  // module loaded
  driverConfig parse_manifest(const std::string& path);
  std::string build_modprobe_params();

  // ---- Pre-installation checks -----------------------------------------------------------
  bool is_kernel_source_ready(const std::string& source, const std::string& output);
  uint8_t getKernelVersion();  // sets config.kernel_version; 0 or 32
  bool is_gcc_matched();
  int test_kernel_config(const std::string& option);  // 1 set, 0 not, 2 no source
  bool run_conftest(const driverConfig& cfg, const driverOptions& opts, const std::string& args,
                    std::string& out, const std::string& env_prefix);
  bool guess_module_signing_hash(std::string& hash);

  // ---- Build and loading -----------------------------------------------------------------
  // The direct way: build_driver_modules makes and signs every module in the staging copy,
  // install_driver_modules puts them in place and loads them; install_driver runs both.
  uint8_t install_driver();
  uint8_t build_driver_modules();
  uint8_t install_driver_modules();
  uint8_t build_module(const std::string& name, const std::string& source_dir);
  uint8_t install_module(const std::string& name, const std::string& source_dir, bool skip_load);
  bool is_vgpu_kvm_supported();
  // The install prefix: an existing one must be a directory (71); a missing one is created and
  // its new directories recorded in created_dirs.
  uint8_t make_prefix();

  // ---- Staging copy ------------------------------------------------------------------------
  // What the installer changes of its package (module sources it configures and builds, the
  // unit template it fills in) is copied into a private staging directory first, so the package
  // is never modified. stage copies the directory from to staging/name (0, 13 or 39).
  uint8_t stage(const std::string& from, const std::string& name, std::string& out);
  uint8_t staged_kernel_sources(std::string& out);  // staging/kernel, staged on first use
  std::string staged(const std::string& source);    // the staged copy of a package file, if any

  // ---- Module signing --------------------------------------------------------------------
  uint8_t do_sign_module(const std::string& module_file);  // 0, 9, 13 or 50
  std::string get_fingerprint_from_key(const std::string& certificate);
  uint8_t save_module_sign_key();  // 0 or 47
  bool reuse_saved_key();          // takes a pair an earlier installation saved

  // ---- DKMS ------------------------------------------------------------------------------
  // Configures the staged sources and builds them in a private DKMS tree inside the staging
  // directory; dkms_support then registers, builds and installs them in the host's trees.
  uint8_t dkms_prebuild();
  uint8_t dkms_support();
  void addModuleToConfFile();

  // ---- Kernel module operations ----------------------------------------------------------
  // 0 not loaded, -1 loaded and unused, -2 in use.
  int get_module_status(const std::string& name);
  uint8_t do_modprobe_module(const std::string& name, const std::string& params);  // 0 or 51
  int do_insmod(const char* file, const char* params);  // 0, errno, or 2 when unreadable
  bool get_driver_version(const std::string& file);     // sets driver_version
  bool check_is_ofed_installed();
  bool isNVMESupportGDS();
  bool has_journalctl();
  bool check_journalctl_output(const std::string& text);  // true: no kernel messages
  bool log_dmesg_after_time(time_t since, std::string& text);
  void log_dmesg(time_t since);

  // ---- Firmware ----------------------------------------------------------------------------
  bool do_check_firmware();  // true when the GPUs' firmware is acceptable
  uint8_t install_fw();      // 0 or 36

  // ---- Utilities, services, record, removal ----------------------------------------------
  uint8_t install_driver_utils();  // 0 or 39
  uint8_t install_systemd_services();
  uint8_t do_install_service(Service service, int env, std::string prefix, std::string arch);
  std::vector<std::string> driver_sortFileinfoToString(const std::vector<FileInfo>& records,
                                                       const std::string& prefix);
  uint8_t UninstallOstrel();
  uint8_t uninstall_ostrel(const std::string& name);
  uint8_t uninstall_utils(const std::string& name);
  // Logs what a previous installation may have left that no record proves this installer made.
  void report_unrecorded(const std::vector<FileInfo>& records);

  // ---- State -------------------------------------------------------------------------------
  std::string arch;          // set by PreInstallation
  std::string distribution;  // ID= of /etc/os-release
  int32_t environment = 0;   // 1 host, 2 container; set by PreInstallation
  std::string prefix;        // install prefix, always ending with "/"
  std::string manifest_name = ".manifest";
  driverOptions options;
  driverConfig config;
  std::string driver_version;  // of the last module file inspected
  std::string modprobe_params;
  std::vector<FileInfo> created_dirs;  // directories made for the install prefix
  std::vector<FileInfo> installed;     // everything installed, in order: the uninstall record
  std::vector<Service> services;
  StagingDir staging;
  std::string dkms_version;   // module version the DKMS way builds (dkms_prebuild)
  bool previous_removed = false;     // the previous installation has been removed
  bool module_state_warned = false;  // the missing /proc/modules was reported
};
