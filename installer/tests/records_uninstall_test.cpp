// Removal operations that talk to other programs: the service removal against a scripted
// systemctl, and the DKMS removal against a scripted and the real dkms.
#include <gtest/gtest.h>

#include <filesystem>

#include "installer/tests/fixture_root.h"
#include "installer/uninstall.h"
#include "installer/utils.h"

namespace fs = std::filesystem;

TEST(RemoveService, ScriptedSystemctl) {
  struct Case {
    const char* name;
    const char* unit;
    const char* env;  // NAME=status pairs for the stub, blank-separated
    bool docker;
    uint8_t result;
    bool unit_file_removed;
    const char* log_has;
  } cases[] = {
      {"removed", "quelvanostrel-init@quelvan", "STATUS=4", false, 0, true,
       "systemctl stop system-quelvanostrel\\x2dinit.slice"},
      {"still known to systemd", "quelvanostrel-init@quelvan", "STATUS=0", false, 145, true,
       "Uninstall service failed, please add '--no-systemd'"},
      {"status fails otherwise", "plain", "STATUS=1", false, 145, false, "error code:1"},
      {"disable fails, goes on", "plain", "DISABLE=5 STOP=5 STATUS=4", false, 0, false,
       "not template. f.path:plain"},
      {"slice stop fails, goes on", "quelvanostrel-init@quelvan", "STATUS=4 STOP=1", false, 0, true,
       "Uninstall: slice:system/quelvanostrel-init.slice failed"},
      {"inside a container", "quelvanostrel-init@quelvan", "STATUS=4", true, 12, false,
       "Skip systemctl in side docker."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FixtureRoot fx;
    fx.stub({"systemctl"});
    for (const auto& kv : split(c.env, ' ')) {
      auto eq = kv.find('=');
      setenv(("STUB_SYSTEMCTL_" + kv.substr(0, eq)).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
    if (c.docker) fx.write("/.dockerenv", "");
    std::string unit_file = fx.write("/lib/systemd/system/quelvanostrel-init@.service", "[Unit]\n");
    FileInfo f{"SERVICE", c.unit, md5sum(unit_file)};

    testing::internal::CaptureStderr();
    EXPECT_EQ(rmservice(f), c.result);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(exists_nofollow(unit_file), !c.unit_file_removed);
    std::string log = fx.log() + fx.stub_log();
    EXPECT_NE(log.find(c.log_has), std::string::npos) << log;
    if (c.docker) {
      EXPECT_EQ(fx.stub_log(), "");
    }
    for (const char* v : {"STATUS", "STOP", "DISABLE"}) unsetenv((std::string("STUB_SYSTEMCTL_") + v).c_str());
  }
}

TEST(RemoveService, ChangedUnitFileStays) {
  FixtureRoot fx;
  fx.stub({"systemctl"});
  std::string unit_file = fx.write("/lib/systemd/system/quelvanostrel-init@.service", "edited\n");
  EXPECT_EQ(rmservice({"SERVICE", "quelvanostrel-init@quelvan", "0123"}), 0);
  EXPECT_TRUE(exists_nofollow(unit_file));
  EXPECT_EQ(fx.stub_log().find("systemctl status"), std::string::npos);  // stops at once
}

TEST(RemoveService, SkippedStepLetsTheUninstallGoOn) {
  FixtureRoot fx;
  fx.write("/.dockerenv", "");
  std::string file = fx.write("/etc/x.conf", "x");
  EXPECT_EQ(executeUninstall({{"SERVICE", "quelvanostrel-init@quelvan", "m"},
                              {"FILE", file, md5sum(file)}}),
            0);
  EXPECT_FALSE(exists_nofollow(file));
}

class DkmsRemoval : public ::testing::Test {
 protected:
  FixtureRoot fx;
  void SetUp() override {
    fs::create_directories(fx.at("/var/lib/dkms/ostrel/4.3.0/source"));
    fs::create_directories(fx.at("/var/lib/dkms/ostrel/4.2.0/source"));
    fs::create_directories(fx.at("/var/lib/dkms/ostrel/kernel-6.1-x86_64"));  // no source: not a version
    fx.write("/usr/src/ostrel-4.3.0/dkms.conf", "PACKAGE_VERSION=4.3.0\n");
    fx.write("/usr/src/other-1.0/dkms.conf", "");
  }
};

TEST_F(DkmsRemoval, ScriptedRemoveStatuses) {
  fx.stub({"dkms"});
  for (auto [status, result] : {std::pair{"0", 0}, {"3", 0}, {"1", 140}}) {
    SCOPED_TRACE(status);
    setenv("STUB_DKMS", status, 1);
    SetUp();
    EXPECT_EQ(uninstall_dkms(), result);
    bool removed = result == 0;
    EXPECT_EQ(fs::exists(fx.at("/var/lib/dkms/ostrel/4.3.0")), !removed);
    EXPECT_EQ(fs::exists(fx.at("/usr/src/ostrel-4.3.0")), !removed);
    EXPECT_TRUE(fs::exists(fx.at("/usr/src/other-1.0")));
  }
  unsetenv("STUB_DKMS");
  // Versions in listing order, each with its own remove; the stop at status 1 is at the first.
  EXPECT_EQ(fx.stub_log(),
            "dkms remove ostrel/4.2.0 --all\ndkms remove ostrel/4.3.0 --all\n"
            "dkms remove ostrel/4.2.0 --all\ndkms remove ostrel/4.3.0 --all\n"
            "dkms remove ostrel/4.2.0 --all\n");
}

TEST_F(DkmsRemoval, RealDkmsWithNothingRegistered) {
  if (whichBinary("dkms").empty()) GTEST_SKIP() << "dkms is not installed";
  // The real dkms knows no "ostrel" module on a build machine and answers 3, which counts as
  // removed.
  EXPECT_EQ(uninstall_dkms(), 0);
  EXPECT_FALSE(fs::exists(fx.at("/usr/src/ostrel-4.3.0")));
}

TEST_F(DkmsRemoval, FrameworkConfigMovesTheTrees) {
  fx.stub({"dkms"});
  fx.write("/etc/dkms/framework.conf",
           "# dkms_tree=\"/ignored\"\n"
           "dkms_tree=\"/srv/dkms\"\n"
           "source_tree=/srv/src\n");
  DkmsConfig conf = parse_dkms_conf();
  EXPECT_EQ(conf.dkms_tree, "/srv/dkms");
  EXPECT_EQ(conf.source_tree, "/srv/src");
  EXPECT_EQ(conf.install_tree, "/lib/modules");
  fs::create_directories(fx.at("/srv/dkms/ostrel/9.9.9/source"));
  EXPECT_EQ(uninstall_dkms(), 0);
  EXPECT_EQ(fx.stub_log(), "dkms remove ostrel/9.9.9 --all\n");
  EXPECT_TRUE(fs::exists(fx.at("/usr/src/ostrel-4.3.0")));  // not the configured source tree
}

TEST(RemoveDkms, NotInstalledCountsAsDone) {
  FixtureRoot fx;
  setenv("PATH", fx.at("/nothing").c_str(), 1);
  EXPECT_EQ(uninstall_dkms(), 146);
  EXPECT_EQ(rmDKMS({"DKMS", "latest", ""}), 0);
}
