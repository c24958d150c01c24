// The engine's construction: install prefix, module parameters and the package manifest.
#include <gtest/gtest.h>

#include "installer/driver/driver_installer.h"
#include "installer/tests/fixture_root.h"

TEST(Engine, PrefixFromInstallPath) {
  FixtureRoot fx;
  struct Case {
    const char* install;
    const char* install_after;
    const char* prefix;
  } cases[] = {
      {"/usr/local/ostrel-4.3.0", "/usr/local/ostrel-4.3.0/", "/usr/local/ostrel-4.3.0/"},
      {"/usr/local/ostrel-4.3.0/", "/usr/local/ostrel-4.3.0/", "/usr/local/ostrel-4.3.0/"},
      {"/opt/drv", "/opt/drv/", "/opt/drv/ostrel-4.3.0/"},
      {"/opt/ostrel-4.2.0", "/opt/ostrel-4.2.0/", "/opt/ostrel-4.2.0/ostrel-4.3.0/"},
      {"/", "/", "/ostrel-4.3.0/"},
  };
  for (const auto& c : cases) {
    driverOptions o;
    o.install_path = c.install;
    DriverInstaller d(o);
    EXPECT_EQ(d.options.install_path, c.install_after) << c.install;
    EXPECT_EQ(d.getPrefix(), c.prefix) << c.install;
  }
  driverOptions o;
  o.install_path = "/opt";
  DriverInstaller d(o);
  EXPECT_EQ(d.modprobe_params, "");
  EXPECT_EQ(d.distribution, "debian");
  EXPECT_EQ(d.manifest_name, ".manifest");
  EXPECT_NE(fx.log().find("[INFO]: PARAMS://\n"), std::string::npos);
  EXPECT_NE(fx.log().find("driver install path is /opt/ostrel-4.3.0/.\n"), std::string::npos);
}

TEST(Engine, PackageManifest) {
  FixtureRoot fx;
  driverOptions o;
  o.install_path = "/opt";
  DriverInstaller d(o);

  driverConfig c = d.parse_manifest(fx.write("/m1", "Ostrel Driver\n4.3.1\nquelvan\n./kernel/\nextra\n"));
  EXPECT_EQ(c.description, "Ostrel Driver");
  EXPECT_EQ(c.version, "4.3.1");
  EXPECT_EQ(c.module_name, "quelvan");
  EXPECT_EQ(c.kernel_dir, "./kernel/");
  EXPECT_TRUE(c.kernel_version.empty() && c.arch.empty() && !c.sign_module);

  EXPECT_EQ(d.parse_manifest(fx.write("/m2", "desc\n\nquelvan\n./kernel/\n")).version, "");
  // Too short: nothing taken, so the empty version stops the installation.
  c = d.parse_manifest(fx.write("/m3", "desc\n4.3.0\nquelvan\n"));
  EXPECT_EQ(c.version, "");
  EXPECT_NE(fx.log().find("holds 3 lines, 4 expected"), std::string::npos);

  testing::internal::CaptureStderr();
  c = d.parse_manifest(fx.at("/missing"));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(c.description, "Ostrel Driver for Linux-x86_64");
  EXPECT_EQ(c.version, "4.3.0");
  EXPECT_EQ(c.module_name, "quelvan");
  EXPECT_EQ(c.kernel_dir, "./kernel/");
  EXPECT_NE(fx.log().find("Initializing driverConfig using default values."), std::string::npos);
}
