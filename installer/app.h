// The installer's command line, shared by the four modes "Driver", "Toolbox", "Toolkit" and
// "Docker": SetApp declares the options of one mode, the caller parses and reads the fields.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

class App : public CLI::App {
 public:
  App();
  // Declares the options of mode; argc and argv are not used. Returns 0.
  int SetApp(int argc, char** argv, std::string mode);

  bool silent = false;
  bool driver = false;
  bool toolkit = false;
  bool toolbox = false;
  bool no_symlink = false;
  bool skip_spacecheck = false;
  std::string install_path;
  std::string cuda_path;
  std::string image_name;
  std::string container_name;
  std::string kernel_source_path;
  bool disable_dkms = false;
  bool with_vgpu = true;
  bool without_vgpu = false;
  bool disable_vtnfs = false;
  bool disable_vtn_peer_mem_drv = false;
  bool no_systemd = false;
  std::string module_signing_secret_key;
  std::string module_signing_public_key;
};
