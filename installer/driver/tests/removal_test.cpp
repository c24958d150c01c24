// Removal of a previous driver: modules in a fixture /proc/modules unloaded by a stub rmmod
// that refuses modules in use, the recorded files removed; configuration files and DKMS trees
// that no record names are left in place and reported.
#include <gtest/gtest.h>

#include <filesystem>

#include "installer/driver/driver_installer.h"
#include "installer/tests/fixture_root.h"

namespace fs = std::filesystem;

TEST(RemovePreviousDriver, ByModuleState) {
  struct Case {
    const char* name;
    const char* modules;
    bool manifest;
    const char* depmod_status;
    uint8_t result;
    bool files_removed;
    const char* modules_after;
    const char* log_has;
  } cases[] = {
      {"loaded and unused", "ext4 1 2 - Live\nquelvan 1234 0 - Live 0x0\n", true, "0", 0, true,
       "ext4 1 2 - Live\n", "Successfully uninstalled driver quelvan."},
      {"main module in use", "aq_driver 1234 2 - Live 0x0\n", true, "0", 43, true,
       "aq_driver 1234 2 - Live 0x0\n", "'quelvan' is busy."},
      {"companion in use", "vtnfs 10 1 - Live\nquelvan 1234 1 vtnfs, Live\n", true, "0", 43, false,
       "vtnfs 10 1 - Live\nquelvan 1234 1 vtnfs, Live\n", "Remove 'vtnfs' failed and it's maybe busy"},
      {"companions unused", "vtn_peer_mem_drv 10 0 - Live\nvtnfs 10 0 - Live\nquelvan 1234 0 - Live\n",
       true, "0", 0, true, "", "Successfully uninstalled driver quelvan."},
      {"depmod fails", "quelvan 1234 0 - Live 0x0\n", true, "1", 53, true,
       "quelvan 1234 0 - Live 0x0\n", "Failed to depmod"},
      {"nothing installed", "", false, "0", 0, true, "", "Parse uninstall manifest error."},
      {"no manifest, driver loaded", "quelvan 1234 0 - Live 0x0\n", false, "0", 0, true, "",
       "Successfully uninstalled driver quelvan."},
      {"nothing loaded, depmod fails", "", true, "1", 0, true, "", "No driver installed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FixtureRoot fx;
    fx.stub({"rmmod", "depmod", "dkms"});
    setenv("STUB_DEPMOD", c.depmod_status, 1);
    fx.write("/proc/modules", c.modules);
    std::string tool = fx.write("/opt/ostrel-4.3.0/bin/tool", "tool");
    std::string leftover = fx.write("/etc/modprobe.d/quelvan.conf", "options quelvan\n");
    std::string dkms_tree = fx.write("/var/lib/dkms/ostrel/4.3.1/source/dkms.conf", "");
    if (c.manifest)
      fx.write("/var/log/quelvanostrel/uninstall/.driver_uninstall_manifests",
               "OSTREL " + fx.at("/opt/ostrel-4.3.0/") + "\nFILE " + tool + " " + md5sum(tool) + "\n");
    driverOptions o;
    o.install_path = fx.at("/opt");
    DriverInstaller d(o);
    testing::internal::CaptureStderr();
    EXPECT_EQ(d.UninstallOstrel(), c.result);
    testing::internal::GetCapturedStderr();
    unsetenv("STUB_DEPMOD");
    EXPECT_EQ(exists_nofollow(tool), !(c.files_removed && c.manifest));
    EXPECT_EQ(fx.read(fx.at("/proc/modules")), c.modules_after);
    EXPECT_NE(fx.log().find(c.log_has), std::string::npos) << fx.log();
    // Neither the unrecorded configuration file nor the unrecorded DKMS tree is touched.
    EXPECT_TRUE(exists_nofollow(leftover));
    EXPECT_TRUE(exists_nofollow(dkms_tree));
    if (c.files_removed) {
      for (const std::string& left : {leftover, fx.at("/var/lib/dkms/ostrel/4.3.1")})
        EXPECT_NE(fx.log().find("Left in place: " + left + " (no uninstall record shows that this installer made it)."),
                  std::string::npos) << left;
    }
  }
}
