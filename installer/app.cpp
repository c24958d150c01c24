#include "installer/app.h"

#include "installer/codes.h"

App::App() : CLI::App("", "") { install_path = std::string("/usr/local/ostrel-") + ostrel_version; }

int App::SetApp(int /*argc*/, char** /*argv*/, std::string mode) {
  description("Ostrel " + mode + " Installation Tool.");

  // The empty group keeps --zuquiet out of the help text. (An option group with an empty name
  // would too, but CLI11 takes an empty argument for its name and then loops forever.)
  if (mode == "Driver" || mode == "Toolbox") {
    add_flag("--zuquiet", silent, "")->group("");
    add_option("--install-path", install_path,
               mode == "Driver" ? "The Ostrel Driver util installation path."
                                : "The Ostrel toolkit installation path.");
  } else {
    add_flag("--silent", silent, "Perform silent installation");
    add_flag("--driver", driver, "Install the Ostrel driver.");
    add_flag("--toolbox", toolbox, "Install the Ostrel toolbox.");
    if (mode == "Toolkit") {
      add_flag("--toolkit", toolkit, "Install the Ostrel toolkit.");
      add_flag("--no-symlink", no_symlink,
               "Prevents the /usr/local/ostrel symbolic link from being created.");
      add_flag("--skip-spacecheck", skip_spacecheck, "Skip space check for toolkit.");
      add_option("--install-path", install_path, "The Ostrel toolkit installation path.");
    }
    add_option("--cuda-path", cuda_path, "The Cuda path to refter.");
  }
  if (mode == "Docker") {
    add_option("--image-name", image_name, "Name of Ostrel image");
    add_option("--container-name", container_name,
               "Specifies the tool that manages the current container");
  }

  add_option("--kernel-source-path", kernel_source_path, "The kernel source path.");
  add_flag("--disable-dkms", disable_dkms, "Disable Use of Dkms (default: false)");
  add_flag("--with-vgpu", with_vgpu,
           std::string("Build driver with VGPU support (default: ") +
               (with_vgpu ? "true" : "false") + ")");
  add_flag("--without-vgpu", without_vgpu,
           std::string("Build driver without VGPU support (default: ") +
               (without_vgpu ? "true" : "false") + ")");
  add_flag("--disable-vtn-peer-mem-drv", disable_vtn_peer_mem_drv,
           "Not compiling and installing vtn_peer_mem_drv (default: false)");
  add_flag("--disable-vtnfs", disable_vtnfs, "Not compiling and installing vtnfs (default: false)");
  add_flag("--no-systemd", no_systemd,
           "Disable the use of 'systemd' when installing drivers (default: false)");
  auto* secret = add_option("--module-signing-secret-key", module_signing_secret_key,
                            "Specify a path to a private key to use for signing the kernel "
                            "module. The corresponding public key must also be provided.");
  auto* pub = add_option("--module-signing-public-key", module_signing_public_key,
                         "Specify a path to a public key to use for verifying the signature of "
                         "the kernel module. The corresponding private key must also be "
                         "provided.");
  secret->needs(pub);
  pub->needs(secret);

  set_help_flag("-h,--help", "Print this help message and exit\n");
  return 0;
}
