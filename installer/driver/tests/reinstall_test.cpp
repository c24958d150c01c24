// A reinstall never leaves the host worse off, end to end on the real test package: the saved
// signing key is reused, a failed build, signing or path check leaves the previous installation
// as it was, and a manifest that cannot be written keeps the old one.
#include <cstdlib>

#include "driverpkg_sandbox.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/utils.h"

namespace {

int install(const driverpkg::Package& pkg, const std::string& args, const std::string& path = "/opt/qv") {
  return driverpkg::sh("cd / && QUELVAN_TEST_ROOT=" + pkg.root + " QUELVAN_TEST_RELEASE=" + pkg.release + " " +
                       shell_quote(QUELVAN_ENTRY_HARNESS) + " --install-path " + path + " " + args +
                       " > /tmp/out 2>&1");
}

bool contains(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

size_t count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

std::string out() { return driverpkg::read("/tmp/out"); }

}  // namespace

TEST(Reinstall, KeepsTheSavedSigningKey) {
  DRIVERPKG_SANDBOXED();
  driverpkg::Package pkg;
  pkg.answer("test_configuration_option CONFIG_MODULE_SIG_FORCE = 0");
  const std::string manifest = pkg.root + uninstall_manifest_path;
  const std::string module = "/lib/modules/" + pkg.release + "/kernel/drivers/misc/quelvan.ko";
  auto saved = [] {
    std::string list;
    driverpkg::sh("cd /usr/share/quelvan && md5sum *", &list);
    return list;
  };
  auto signer = [&] {
    std::string s;
    driverpkg::sh("modinfo -F sig_key " + module, &s);
    return s;
  };

  ASSERT_EQ(install(pkg, "--disable-dkms --no-systemd"), 0) << out();
  EXPECT_TRUE(contains(out(), "Please enroll public key first."));
  const std::string pair = saved();
  const std::string key = signer();
  ASSERT_EQ(count(pair, ".der\n"), 1u) << pair;
  ASSERT_FALSE(key.empty());
  EXPECT_FALSE(contains(driverpkg::read(manifest), "/usr/share/quelvan")) << driverpkg::read(manifest);

  // The next run, with a record of the kind older versions wrote (the key listed for removal)
  // and on a host without /proc/modules: the same pair signs the new module, nothing to enroll,
  // and the unreadable module state is reported once.
  std::string der;
  driverpkg::sh("ls /usr/share/quelvan/*.der", &der);
  der.pop_back();
  ASSERT_EQ(driverpkg::sh("echo \"FILE " + pkg.root + der + " $(md5sum < " + der + " | cut -d' ' -f1)\" >> " + manifest +
                          " && rm " + pkg.root + "/proc/modules && rm " + module),
            0);
  ASSERT_EQ(install(pkg, "--disable-dkms --no-systemd"), 0) << out();
  EXPECT_EQ(saved(), pair);
  EXPECT_EQ(signer(), key);
  EXPECT_FALSE(contains(out(), "Please enroll public key first.")) << out();
  EXPECT_EQ(count(out(), "/proc/modules cannot be read; the state of kernel modules is unknown"), 1u) << out();
  EXPECT_FALSE(contains(out(), "Failed to open")) << out();
}

TEST(Reinstall, FailedRunLeavesThePreviousInstallation) {
  DRIVERPKG_SANDBOXED();
  driverpkg::Package pkg;
  const std::string misc = "/lib/modules/" + pkg.release + "/kernel/drivers/misc";
  ASSERT_EQ(install(pkg, "--disable-dkms"), 0) << out();
  pkg.write("/proc/modules", "quelvan 16384 0 - Live 0x0000000000000000\n");  // the loaded driver
  // Everything of the installation, content and times, and the loaded module list. (Not all of
  // /var/lib/dkms: DKMS makes its own signing key there at its first build, whoever asks.)
  auto host_state = [&] {
    std::string s;
    driverpkg::sh("(cat " + pkg.root + uninstall_manifest_path + " " + pkg.root + "/proc/modules; tar -C / -c ." +
                      misc + " opt etc lib/systemd/system lib/firmware/quelvan usr/src var/lib/dkms/ostrel" +
                      " 2>/dev/null) | md5sum",
                  &s);
    return s;
  };
  const std::string before = host_state();
  ASSERT_EQ(driverpkg::sh("printf k > /tmp/bad.key && printf c > /tmp/bad.der"), 0);
  const std::string broken = "echo '#error broken' >> " + pkg.dir + "/kernel/quelvan.c";

  struct Case {
    const char* what;
    std::string arrange;  // shell command run first
    std::string args;
    std::string path;
    int code;
    std::string said;
  } cases[] = {
      {"build fails", broken, "--disable-dkms", "/opt/qv", 34, "Error code: 34  message: Driver module compilation failed."},
      {"DKMS build fails", broken, "", "/opt/qv", 34, "Error code: 34  message: Driver module compilation failed."},
      {"signing fails", "", "--module-signing-secret-key /tmp/bad.key --module-signing-public-key /tmp/bad.der",
       "/opt/qv", 50, "Error code: 50  message: failed to sign module file."},
      {"blank in the install path", "", "", shell_quote("/opt/q v"), 48,
       "The install path \"/opt/q v\" cannot be used: it holds a blank, which the uninstall manifest cannot hold.\n"
       "Error code: 48  message: Install path or key path cannot be used."},
      {"line break in the install path", "", "", shell_quote("/opt/q\nv"), 48,
       "The install path \"/opt/q\\nv\" cannot be used: it holds a line break or another control character."},
      {"quote in the install path", "", "", shell_quote("/opt/q'v"), 48,
       "it holds one of \" ' \\ % $ ;, which the systemd unit cannot hold."},
      {"line break in a key path", "",
       "--module-signing-secret-key " + shell_quote("/tmp/bad\n.key") + " --module-signing-public-key /tmp/bad.der",
       "/opt/qv", 48, "The module signing secret key \"/tmp/bad\\n.key\" cannot be used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(driverpkg::sh("cp " QUELVAN_DRIVERPKG_DIR "/kernel/quelvan.c " + pkg.dir + "/kernel/ && : > /tmp/stub.log" +
                            (c.arrange.empty() ? "" : " && " + c.arrange)),
              0);
    EXPECT_EQ(install(pkg, c.args, c.path), c.code) << out();
    EXPECT_TRUE(contains(out(), c.said)) << out();
    EXPECT_EQ(host_state(), before);
    EXPECT_EQ(pkg.calls(), "");  // nothing unloaded, no unit stopped
    std::string tmp;
    driverpkg::sh("ls /tmp", &tmp);
    EXPECT_FALSE(contains(tmp, "quelvan-stage-")) << tmp;  // the staging copy is gone
  }
}

TEST(Reinstall, UnwritableManifestKeepsTheOldOne) {
  DRIVERPKG_SANDBOXED();
  driverpkg::Package pkg;
  const std::string dir = "/var/log/quelvanostrel/uninstall";
  const std::string old = "OSTREL /opt/old/ostrel-4.3.0/\nFILE /opt/old/ostrel-4.3.0/bin/zusmi 0123\n";
  struct Case {
    const char* what;
    std::string mount;
  } cases[] = {
      {"full disk", "mount -t tmpfs -o size=16k quelvan-full " + dir + " && printf '" + old + "' > " + dir +
                        "/.driver_uninstall_manifests && (dd if=/dev/zero of=" + dir + "/filler bs=1k 2>/dev/null; true)"},
      {"read-only record directory", "printf '" + old + "' > " + dir + "/.driver_uninstall_manifests && mount --bind " +
                                         dir + " " + dir + " && mount -o remount,bind,ro " + dir},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(driverpkg::sh("mkdir -p " + dir + " && " + c.mount), 0);
    driverOptions o;
    o.install_path = "/opt/qv";
    DriverInstaller d(o);
    for (int i = 0; i < 200; ++i) d.installed.push_back({"FILE", "/opt/qv/ostrel-4.3.0/bin/tool" + std::to_string(i), "d41d8cd98f00b204e9800998ecf8427e"});
    EXPECT_EQ(d.saveInstalledInfo(), 55);
    EXPECT_EQ(driverpkg::read(dir + "/.driver_uninstall_manifests"), old);
    std::string files;
    driverpkg::sh("ls -A " + dir + " | grep -v filler", &files);
    EXPECT_EQ(files, ".driver_uninstall_manifests\n");  // no temporary file left
    EXPECT_TRUE(contains(pkg.log(), "Failed to write the uninstall manifest " + pkg.root + uninstall_manifest_path +
                                        "; the previous one is kept."));
    ASSERT_EQ(driverpkg::sh("umount " + dir + " && rm -rf " + dir), 0);
  }
}
