// Kernel-module operations against fixture /proc files, a replaced init_module and stub
// loaders.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "installer/driver/driver_installer.h"
#include "installer/tests/fixture_root.h"

namespace {

DriverInstaller engine() {
  driverOptions o;
  o.install_path = "/opt";
  return DriverInstaller(o);
}

TEST(ModuleOps, StatusFromProcModules) {
  struct Case {
    const char* modules;
    const char* name;
    int status;
  } cases[] = {
      {"", "quelvan", 0},
      {"quelvan 1234 0 - Live 0x0000000000000000\n", "quelvan", -1},
      {"ext4 99 1 - Live 0x0\nquelvan 1234 2 vtnfs, Live 0x0\n", "quelvan", -2},
      {"quelvan_x 1234 0 - Live 0x0\n", "quelvan", 0},       // a prefix of another module
      {"xquelvan 1234 0 - Live 0x0\n", "quelvan", 0},        // a suffix of another module
      {"quelvan\t1234\t0\t-\tLive\n", "quelvan", -1},
      {"ib_core 400 3 - Live 0x0\n", "ib_core", -2},
      {"ab 1 0 - Live 0x0\n", "a.", 0},                      // no regular expression meaning
      {"a+b 1 0 - Live 0x0\n", "a+b", -1},
      {"quelvan x y\nquelvan 1234 1 - Live\n", "quelvan", -2},  // the first line that decodes
  };
  for (const auto& c : cases) {
    FixtureRoot fx;
    fx.write("/proc/modules", c.modules);
    EXPECT_EQ(engine().get_module_status(c.name), c.status) << c.modules;
    EXPECT_EQ(engine().is_driver_already_installed(c.name), c.status < 0) << c.modules;
  }
}

struct InitModuleCall {
  std::string image;
  std::string params;
  int fail_errno = 0;
} call;

int fake_init_module(const void* image, unsigned long len, const char* params) {
  call.image.assign(static_cast<const char*>(image), len);
  call.params = params;
  if (call.fail_errno) {
    errno = call.fail_errno;
    return -1;
  }
  return 0;
}

TEST(ModuleOps, InsmodLoadsTheImage) {
  FixtureRoot fx;
  host::set_init_module(fake_init_module);
  std::string ko = fx.write("/quelvan.ko", "\x7f" "ELF module image");
  DriverInstaller d = engine();
  EXPECT_EQ(d.do_insmod(ko.c_str(), "vgpu_enable=1"), 0);
  EXPECT_EQ(call.image, "\x7f" "ELF module image");
  EXPECT_EQ(call.params, "vgpu_enable=1");
  call.fail_errno = EEXIST;
  EXPECT_EQ(d.do_insmod(ko.c_str(), ""), EEXIST);
  call.fail_errno = 0;
  EXPECT_EQ(d.do_insmod(fx.at("/missing.ko").c_str(), ""), 2);
  host::set_init_module(nullptr);
}

TEST(ModuleOps, ModprobeThroughStub) {
  FixtureRoot fx;
  fx.stub({"modprobe"});
  DriverInstaller d = engine();
  EXPECT_EQ(d.do_modprobe_module("quelvan", "vgpu_enable=1"), 0);
  setenv("STUB_MODPROBE", "1", 1);
  EXPECT_EQ(d.do_modprobe_module("vfio", ""), 51);
  unsetenv("STUB_MODPROBE");
  EXPECT_EQ(fx.stub_log(), "modprobe quelvan vgpu_enable=1\nmodprobe vfio\n");
  EXPECT_NE(fx.log().find("Failed to insert kernel module:\n"), std::string::npos);
}

TEST(ModuleOps, DriverVersion) {
  FixtureRoot fx;
  DriverInstaller d = engine();
  d.driver_version = "old";
  fx.stub({"modprobe"});  // any stub dir first on PATH; modinfo must not run
  EXPECT_FALSE(d.get_driver_version(fx.at("/missing.ko")));
  EXPECT_EQ(d.driver_version, "");
  // An object with a module information section, read by the real modinfo. Its srcversion
  // line also contains "version:" and must not be taken for the version.
  if (whichBinary("modinfo").empty() || whichBinary("gcc").empty())
    GTEST_SKIP() << "modinfo or gcc is not installed";
  std::string src = fx.write("/mi.c",
                             "const char mi[] __attribute__((section(\".modinfo\"), used)) = "
                             "\"version=4.3.0\\0srcversion=0123ABCD\\0license=GPL\";\n");
  std::string ko = fx.at("/quelvan.ko"), out;
  ASSERT_TRUE(exec("gcc -c " + shell_quote(src) + " -o " + shell_quote(ko), out)) << out;
  EXPECT_TRUE(d.get_driver_version(ko));
  EXPECT_EQ(d.driver_version, "4.3.0");
}

TEST(ModuleOps, HostFeatureProbes) {
  FixtureRoot fx;
  DriverInstaller d = engine();
  fx.write("/proc/kallsyms", "0000 T nvme_setup_cmd\n");
  EXPECT_FALSE(d.isNVMESupportGDS());
  fx.write("/proc/kallsyms", "0000 T nvme_setup_cmd\n0000 T nvme_v1_register_nvfs_dma_ops\n");
  EXPECT_TRUE(d.isNVMESupportGDS());

  EXPECT_FALSE(d.check_is_ofed_installed());
  fx.write("/usr/src/ofa_kernel/default/include/rdma/peer_mem.h", "");
  EXPECT_FALSE(d.check_is_ofed_installed());
  EXPECT_NE(fx.log().find("/usr/src/ofa_kernel/default/Module.symvers >> is not exist."),
            std::string::npos);
  fx.write("/usr/src/ofa_kernel/default/Module.symvers", "");
  EXPECT_TRUE(d.check_is_ofed_installed());

  for (const auto& [text, empty] : std::vector<std::pair<std::string, bool>>{
           {"", true}, {"\n", true}, {"-- No entries --\n", true},
           {"Dec 11 kernel: quelvan: loaded\n", false}, {"-- No entries --", false}})
    EXPECT_EQ(d.check_journalctl_output(text), empty) << text;

  // Without a journal in the fixture the kernel messages come from dmesg.
  EXPECT_FALSE(d.has_journalctl());
  std::string text;
  EXPECT_FALSE(d.log_dmesg_after_time(time(nullptr), text));
}

}  // namespace
