// The firmware check over fake PCI hosts: the engine reads the fake sysfs through the host
// layer, and the real setpci probes the fake config space bound over /sys in a private mount
// namespace.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <filesystem>

#include "installer/driver/driver_installer.h"
#include "installer/driver/firmware.h"
#include "installer/tests/fixture_root.h"
#include "installer/utils.h"

#ifdef QUELVAN_HAVE_FAKEHOST
#include "fakehost.h"

namespace {

// Enters a private mount namespace once per process; false where that is not allowed.
bool private_mounts() {
  static const bool ok = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return ok;
}

class FirmwareCheck : public ::testing::Test {
 protected:
  FixtureRoot fx;
  bool bound = false;

  void SetUp() override {
    if (!private_mounts()) GTEST_SKIP() << "needs root and mount namespaces for the fake PCI host";
    if (whichBinary("setpci").empty()) GTEST_SKIP() << "setpci (pciutils) is not installed";
  }
  void TearDown() override {
    if (bound) {
      umount2("/sys/bus/pci", MNT_DETACH);
      umount2("/sys/devices", MNT_DETACH);
    }
  }

  // Writes the host into the fixture's /sys and binds it over the real one for setpci.
  void host(const std::vector<fakehost::Device>& devices) {
    ASSERT_FALSE(fakehost::writeHost(fx.at("/sys"), devices).empty());
    ASSERT_EQ(mount(fx.at("/sys/bus/pci").c_str(), "/sys/bus/pci", nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount(fx.at("/sys/devices").c_str(), "/sys/devices", nullptr, MS_BIND, nullptr), 0);
    bound = true;
  }

  static fakehost::Device gpu(const std::string& bus, uint32_t fw, uint32_t config = 0,
                              uint32_t variant = 0, const std::string& driver = "quelvan") {
    fakehost::Device d = fakehost::gpu(bus, "", 2);
    d.registers = {{REG_FW_VERSION, fw}, {REG_CONFIG, config}, {REG_VARIANT, variant}};
    d.driver = driver;
    return d;
  }

  bool check() {
    driverOptions o;
    o.install_path = "/opt";
    return DriverInstaller(o).do_check_firmware();
  }
};

TEST_F(FirmwareCheck, VersionsAndSkippedGpus) {
  struct Case {
    const char* name;
    std::vector<fakehost::Device> devices;
    bool pass;
    const char* log_has;
  } cases[] = {
      {"1.0.8 fails", {gpu("0000:3b:00.0", 0x1000008)}, false,
       "Please upgrade your firmware to be >= 1.0.9 (current: drv:  fw:1.0.8)"},
      {"1.0.9 passes", {gpu("0000:3b:00.0", 0x1000009)}, true, "check firmware passed"},
      {"1.1.0 passes", {gpu("0000:3b:00.0", 0x1000100)}, true, ":1.1.0 1000100 2 0 0"},
      {"one new enough of two", {gpu("0000:3b:00.0", 0x1000008), gpu("0000:5e:00.0", 0x1020000)},
       true, "Please upgrade your firmware"},
      {"foreign driver", {gpu("0000:3b:00.0", 0x1000008, 0, 0, "vfio-pci")}, true,
       "/sys/bus/pci/devices/0000:3b:00.0 is hold by vfio-pci skip check then"},
      {"aq_driver is ours", {gpu("0000:3b:00.0", 0x1000008, 0, 0, "aq_driver")}, false, "fw:1.0.8"},
      {"customer board", {gpu("0000:3b:00.0", 0x1000008, 0, 1)}, true, "skip customer's chip check"},
      {"model code 2", {gpu("0000:3b:00.0", 0x1000008, 2u << 25)}, true, ":1.0.8 1000008 2 0 2"},
      {"model code 1 examined", {gpu("0000:3b:00.0", 0x1000008, (1u << 25) | 5)}, false, " 2 5 1 "},
      {"other device id", {fakehost::gpu("0000:3b:00.0", "", 3)}, true, "skip non-LN"},
      {"no gpu", {fakehost::gpu("0000:3b:00.0", "", 2, 0x10de)}, true, "No Quelvan Ostrel GPU found."},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(fx.at("/sys"));
    TearDown();
    host(c.devices);
    EXPECT_EQ(check(), c.pass);
    EXPECT_NE(fx.log().find(c.log_has), std::string::npos) << fx.log();
  }
}

TEST_F(FirmwareCheck, OfflineAndMalformedDevicesAreLeftOut) {
  fakehost::Device offline = gpu("0000:3b:00.0", 0x1000008);
  offline.offline = true;
  fakehost::Device odd = gpu("0000:5e:00.0", 0x1000008);
  fakehost::Device small = gpu("0000:86:00.0", 0x1000008);
  small.resource2Size = 0x1000;  // too small to hold the registers
  small.registers.clear();
  host({offline, odd, small});
  fx.write("/sys/bus/pci/devices/0000:5e:00.0/vendor", "not-hex\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(get_devices(), std::vector<std::string>{"0000:86:00.0"});
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Device 0000:3b:00.0 is offline..."),
            std::string::npos);
  EXPECT_NE(fx.log().find("Skip device 0000:5e:00.0: its vendor file holds no hexadecimal number"),
            std::string::npos);
  Chip chip;
  EXPECT_EQ(get_chip_info("0000:86:00.0", chip), 255);
  EXPECT_TRUE(check());  // nothing examined
  EXPECT_NE(fx.log().find("get info for 0000:86:00.0 failed. 255"), std::string::npos);
}

}  // namespace
#endif

TEST(InstallFirmware, RecordsTheCopiedTree) {
  for (bool existed : {true, false}) {
    SCOPED_TRACE(existed ? "firmware directory existed" : "new firmware directory");
    FixtureRoot fx;
    std::string pkg = fx.at("/pkg");
    fx.write(pkg + "/firmware/quelvan/fw.bin", "fw", false);
    std::filesystem::current_path(pkg);
    if (existed) fx.write("/lib/firmware/other.bin", "someone else's");
    driverOptions o;
    o.install_path = "/opt";
    DriverInstaller d(o);
    ASSERT_EQ(d.install_fw(), 0);
    std::vector<FileInfo> expected = {
        {"FILE", fx.at("/lib/firmware/quelvan/fw.bin"), md5sum(pkg + "/firmware/quelvan/fw.bin")},
        {"DIR", fx.at("/lib/firmware/quelvan"), ""},
    };
    if (!existed) expected.push_back({"DIR", fx.at("/lib/firmware"), ""});
    ASSERT_EQ(d.installed.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(d.installed[i].type, expected[i].type);
      EXPECT_EQ(d.installed[i].path, expected[i].path);
      EXPECT_EQ(d.installed[i].md5, expected[i].md5);
    }
  }
  FixtureRoot fx;  // no firmware directory in the package
  std::filesystem::current_path(fx.root);
  driverOptions o;
  o.install_path = "/opt";
  DriverInstaller d(o);
  EXPECT_EQ(d.install_fw(), 36);
  EXPECT_TRUE(d.installed.empty());
}
