#include "installer/app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parses args (after the program name) in mode; returns the parse error's exit code, or -1
// when the command line was accepted.
int Parse(App& app, const std::string& mode, std::vector<std::string> args) {
  args.insert(args.begin(), "ostrel-installer");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  app.SetApp(static_cast<int>(argv.size()), argv.data(), mode);
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    return e.get_exit_code();
  }
  return -1;
}

struct ModeCase {
  std::string mode;
  std::vector<std::string> args;
  bool accepted;
};

TEST(App, OptionsAcceptedAndRefusedPerMode) {
  const std::vector<ModeCase> cases = {
      {"Toolbox", {"--zuquiet"}, true},
      {"Toolbox", {"--install-path", "/opt"}, true},
      {"Toolbox", {"--silent"}, false},
      {"Toolbox", {"--toolkit"}, false},
      {"Toolbox", {"--cuda-path", "/c"}, false},
      {"Driver", {"--zuquiet", "--install-path", "/d", "--disable-dkms"}, true},
      {"Driver", {"--driver"}, false},
      {"Driver", {"", "--zuquiet"}, false},  // an empty argument is refused, not looped on
      {"Toolkit", {"--silent", "--driver", "--toolbox", "--toolkit", "--no-symlink"}, true},
      {"Toolkit", {"--skip-spacecheck", "--install-path", "/t", "--cuda-path", "/c"}, true},
      {"Toolkit", {"--zuquiet"}, false},
      {"Toolkit", {"--image-name", "x"}, false},
      {"Docker", {"--image-name", "img", "--container-name", "docker", "--cuda-path", "/c"}, true},
      {"Docker", {"--install-path", "/opt"}, false},
      {"Docker", {"--toolkit"}, false},
      {"Other", {"--silent", "--driver", "--toolbox", "--cuda-path", "/c"}, true},
      {"Other", {"--toolkit"}, false},
      {"Other", {"--install-path", "/x"}, false},
      {"toolbox", {"--silent"}, true},  // mode names are case-sensitive
      {"Toolbox", {"--install-path"}, false},
      {"Driver", {"--module-signing-secret-key", "/k.priv"}, false},
      {"Toolkit", {"--module-signing-public-key", "/k.der"}, false},
      {"Docker", {"--module-signing-secret-key", "/k.priv", "--module-signing-public-key", "/k.der"},
       true},
  };
  for (const auto& c : cases) {
    App app;
    std::string line = c.mode;
    for (const auto& a : c.args) line += " " + a;
    EXPECT_EQ(Parse(app, c.mode, c.args) == -1, c.accepted) << line;
  }
}

TEST(App, FieldsAfterParsing) {
  App defaults;
  ASSERT_EQ(Parse(defaults, "Toolkit", {}), -1);
  EXPECT_EQ(defaults.install_path, "/usr/local/ostrel-4.3.0");
  EXPECT_TRUE(defaults.with_vgpu);
  EXPECT_FALSE(defaults.without_vgpu || defaults.silent || defaults.driver || defaults.toolkit ||
               defaults.toolbox || defaults.no_symlink || defaults.skip_spacecheck ||
               defaults.disable_dkms || defaults.disable_vtnfs ||
               defaults.disable_vtn_peer_mem_drv || defaults.no_systemd);
  EXPECT_EQ(defaults.cuda_path + defaults.image_name + defaults.container_name +
                defaults.kernel_source_path + defaults.module_signing_secret_key +
                defaults.module_signing_public_key,
            "");

  App app;
  ASSERT_EQ(Parse(app, "Toolkit",
                  {"--silent", "--toolkit", "--skip-spacecheck", "--install-path", "/opt/tk",
                   "--cuda-path", "/usr/local/cuda", "--kernel-source-path", "/usr/src/k",
                   "--without-vgpu", "--disable-vtnfs", "--disable-vtn-peer-mem-drv",
                   "--no-systemd", "--module-signing-secret-key", "/k.priv",
                   "--module-signing-public-key", "/k.der"}),
            -1);
  EXPECT_TRUE(app.silent && app.toolkit && app.skip_spacecheck && app.without_vgpu &&
              app.disable_vtnfs && app.disable_vtn_peer_mem_drv && app.no_systemd);
  EXPECT_FALSE(app.driver || app.toolbox || app.no_symlink || app.disable_dkms);
  EXPECT_TRUE(app.with_vgpu);
  EXPECT_EQ(app.install_path, "/opt/tk");
  EXPECT_EQ(app.cuda_path, "/usr/local/cuda");
  EXPECT_EQ(app.kernel_source_path, "/usr/src/k");
  EXPECT_EQ(app.module_signing_secret_key, "/k.priv");
  EXPECT_EQ(app.module_signing_public_key, "/k.der");

  App quiet;
  ASSERT_EQ(Parse(quiet, "Toolbox", {"--zuquiet"}), -1);
  EXPECT_TRUE(quiet.silent);
}

TEST(App, HelpTextPerMode) {
  App toolbox;
  EXPECT_EQ(Parse(toolbox, "Toolbox", {"--help"}), 0);  // help ends with status 0
  const std::string help = toolbox.help();
  EXPECT_NE(help.find("Ostrel Toolbox Installation Tool."), std::string::npos);
  EXPECT_NE(help.find("The Ostrel toolkit installation path."), std::string::npos);
  EXPECT_NE(help.find("Build driver with VGPU support (default: true)"), std::string::npos);
  EXPECT_NE(help.find("Build driver without VGPU support (default: false)"), std::string::npos);
  EXPECT_EQ(help.find("zuquiet"), std::string::npos);
  // The help flag is declared last.
  EXPECT_GT(help.find("-h,--help"), help.find("--module-signing-public-key"));

  App driver;
  Parse(driver, "Driver", {});
  EXPECT_NE(driver.help().find("The Ostrel Driver util installation path."), std::string::npos);
  EXPECT_EQ(driver.help().find("zuquiet"), std::string::npos);
}

}  // namespace
