// Pre-installation checks on the real test driver package: manifest, kernel sources, tools,
// compiler, install prefix and the module-signing decision.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "driverpkg_sandbox.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/utils.h"

namespace {

driverOptions options_for(const std::string& install_path) {
  driverOptions o;
  o.with_vgpu = true;
  o.install_path = install_path;
  return o;
}

}  // namespace

// The compiler check reads the major version of "gcc --version".
TEST(GccCheck, MajorVersionAboveThreePasses) {
  char dir[] = "/tmp/gccstub-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string old_path = getenv("PATH");
  setenv("PATH", (std::string(dir) + ":" + old_path).c_str(), 1);
  struct Case {
    const char* version;
    bool passes;
  };
  for (Case c : {Case{"4.8.5", true}, Case{"10.2.1", true}, Case{"3.4.6", false}}) {
    std::ofstream(std::string(dir) + "/gcc") << "#!/bin/sh\necho 'gcc (GCC) " << c.version << " 20150623'\n";
    chmod((std::string(dir) + "/gcc").c_str(), 0755);
    DriverInstaller d(options_for("/opt/x"));
    EXPECT_EQ(d.is_gcc_matched(), c.passes) << c.version;
  }
  setenv("PATH", old_path.c_str(), 1);
  ASSERT_EQ(driverpkg::sh("rm -rf " + shell_quote(dir)), 0);
}

TEST(KernelRelease, TakenFromUtsreleaseHeader) {
  char dir[] = "/tmp/kout-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  ASSERT_EQ(driverpkg::sh("mkdir -p " + std::string(dir) + "/include/generated"), 0);
  struct Case {
    const char* content;
    uint8_t code;
    const char* release;
  };
  for (Case c : {Case{"#define UTS_RELEASE \"5.4.0-42-generic\"\n", 0, "5.4.0-42-generic"},
                 Case{"/* x */\n#define UTS_RELEASE \"6.1.0\"\n", 0, "6.1.0"},
                 Case{"#define UTS_RELEASE\n", 32, ""}, Case{"", 32, ""}}) {
    std::ofstream(std::string(dir) + "/include/generated/utsrelease.h") << c.content;
    DriverInstaller d(options_for("/opt/x"));
    d.options.kernel_output_path = dir;
    EXPECT_EQ(d.getKernelVersion(), c.code) << c.content;
    EXPECT_EQ(d.config.kernel_version, c.release);
  }
  ASSERT_EQ(driverpkg::sh("rm -rf " + shell_quote(dir)), 0);
}

// Every outcome of the phase, each on a fresh engine in one sandbox.
TEST(PreInstallation, ChecksAndSigningDecision) {
  DRIVERPKG_SANDBOXED();
  driverpkg::Package pkg;
  const std::string efi = "/sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c";
  auto run = [&](driverOptions o) {
    DriverInstaller d(o);
    uint8_t code = d.PreInstallation();
    return std::make_pair(code, std::move(d));
  };

  // A clean host: no signing required, openssl not even looked for, prefix created.
  {
    auto [code, d] = run(options_for("/opt/a/b"));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(d.config.sign_module);
    EXPECT_EQ(d.config.kernel_version, pkg.release);
    EXPECT_EQ(d.environment, 1);
    EXPECT_TRUE(d.config.vgpu);
    ASSERT_EQ(d.created_dirs.size(), 3u);
    EXPECT_EQ(d.created_dirs.back().path, "/opt/a");
    EXPECT_TRUE(isDirExists("/opt/a/b/ostrel-4.3.0"));
  }
  // The signing decision: the first reason that holds.
  struct Sign {
    const char* why;
    std::function<void()> arrange;
    const char* logged;
  };
  for (const Sign& s : std::vector<Sign>{
           {"forced in the kernel configuration",
            [&] { pkg.answer("test_configuration_option CONFIG_MODULE_SIG_FORCE = 0"); },
            "CONFIG_MODULE_SIG_FORCE not empty do module sign."},
           {"kernel command line", [&] { pkg.write("/proc/cmdline", "quiet module.sig_enforce=1\n"); },
            "module.sig_enforce set, do module sign."},
           {"secure boot",
            [&] {
              ASSERT_EQ(driverpkg::sh("mkdir -p " + pkg.root + "/sys/firmware/efi/efivars"), 0);
              pkg.write(efi, std::string("\x06\x00\x00\x00\x01", 5));
            },
            "sb enabled do module sign"}}) {
    ASSERT_EQ(driverpkg::sh(": > /tmp/answers"), 0);
    pkg.write("/proc/cmdline", "quiet\n");
    std::remove((pkg.root + efi).c_str());
    s.arrange();
    auto [code, d] = run(options_for("/opt/s"));
    EXPECT_EQ(code, 0) << s.why;
    EXPECT_TRUE(d.config.sign_module) << s.why;
    EXPECT_FALSE(d.options.disable_dkms) << s.why;
    EXPECT_NE(pkg.log().find(s.logged), std::string::npos) << s.why;
  }
  // Signing required without openssl: 77 (the overlay hides it).
  ASSERT_EQ(driverpkg::sh("rm -f /usr/bin/openssl"), 0);
  EXPECT_EQ(run(options_for("/opt/s")).first, 77);
  std::remove((pkg.root + efi).c_str());

  // User keys: both present sign and disable DKMS; one missing file is 9; one path alone is none.
  std::ofstream("/tmp/user.key") << "k";
  std::ofstream("/tmp/user.der") << "c";
  driverOptions keys = options_for("/opt/s");
  keys.module_signing_secret_key = "/tmp/user.key";
  keys.module_signing_public_key = "/tmp/user.der";
  ASSERT_EQ(driverpkg::sh("cp -a /bin/true /usr/bin/openssl"), 0);
  {
    auto [code, d] = run(keys);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(d.config.sign_module);
    EXPECT_TRUE(d.options.disable_dkms);
  }
  keys.module_signing_public_key = "/tmp/missing.der";
  EXPECT_EQ(run(keys).first, 9);
  keys.module_signing_secret_key.clear();
  {
    auto [code, d] = run(keys);
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(d.config.sign_module);
  }

  // A prefix that is a regular file.
  ASSERT_EQ(driverpkg::sh("mkdir -p /opt/f && touch /opt/f/ostrel-4.3.0"), 0);
  EXPECT_EQ(run(options_for("/opt/f")).first, 71);

  // The kernel source /usr, and a source tree without headers.
  driverOptions usr = options_for("/opt/s");
  usr.kernel_source_path = "/usr";
  EXPECT_EQ(run(usr).first, 32);
  EXPECT_NE(pkg.log().find("This should not be /usr"), std::string::npos);

  // Missing utilities: each is named, then 33.
  ASSERT_EQ(driverpkg::sh("rm -f /usr/bin/objcopy /usr/bin/ld /usr/bin/x86_64-linux-gnu-ld"), 0);
  EXPECT_EQ(run(options_for("/opt/s")).first, 33);
  EXPECT_NE(pkg.log().find("Unable to find the system utility 'objcopy'; please make sure you have the package 'binutils'"),
            std::string::npos);
  EXPECT_NE(pkg.log().find("Unable to find the system utility 'ld';"), std::string::npos);

  // No manifest: 37 before anything else; nothing created, the previous record kept.
  std::remove((pkg.dir + "/.manifest").c_str());
  const std::string record = pkg.root + uninstall_manifest_path;
  ASSERT_EQ(driverpkg::sh("mkdir -p $(dirname " + record + ") && echo 'FILE /etc/kept 0' > " + record), 0);
  EXPECT_EQ(run(options_for("/opt/none")).first, 37);
  EXPECT_FALSE(isFileExists("/opt/none"));
  EXPECT_EQ(driverpkg::read(record), "FILE /etc/kept 0\n");
}
