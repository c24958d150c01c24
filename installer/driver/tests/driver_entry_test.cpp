// ostrel-driver-installer end to end on the real test package: the DKMS way twice (the second
// installation removes the first through its manifest), then a failed load that still leaves
// its uninstall record.
#include <cstdlib>

#include "driverpkg_sandbox.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/utils.h"

namespace {

int install(const driverpkg::Package& pkg, const std::string& args, const std::string& env = "") {
  return driverpkg::sh("cd / && QUELVAN_TEST_ROOT=" + pkg.root + " QUELVAN_TEST_RELEASE=" + pkg.release + " " + env +
                       " " + shell_quote(QUELVAN_ENTRY_HARNESS) + " --install-path /opt/qv " + args + " > /tmp/out 2>&1");
}

bool contains(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

}  // namespace

TEST(DriverEntry, InstallsReinstallsAndRecordsFailures) {
  DRIVERPKG_SANDBOXED();
  driverpkg::Package pkg;
  const std::string manifest = pkg.root + uninstall_manifest_path;
  const std::string kernel = pkg.dir + "/kernel";
  const std::string log = pkg.root + "/var/log/quelvanostrel/install.log";
  std::string out;

  // First: without vGPU and without the peer-memory module, from a dkms.conf whose version
  // only DKMS itself can fill in (so the installer falls back to its own).
  ASSERT_EQ(driverpkg::sh("sed -i 's/^PACKAGE_VERSION=.*/PACKAGE_VERSION=\"${module_version}\"/' " + kernel +
                          "/dkms.conf"),
            0);
  ASSERT_EQ(install(pkg, "--without-vgpu --disable-vtn-peer-mem-drv"), 0) << driverpkg::read("/tmp/out")
                                                                         << driverpkg::read(log);
  EXPECT_FALSE(isDirExists(kernel + "/vtn_peer_mem"));
  EXPECT_TRUE(contains(driverpkg::read(kernel + "/dkms.conf"), "MAKE[0]=\"make KVER=${kernelver}  dkms\""));
  const std::string dkms_tree = "/var/lib/dkms/ostrel/";
  EXPECT_TRUE(isDirExists(dkms_tree + "4.3.0/" + pkg.release + "/x86_64/module"));
  const std::string updates = "/lib/modules/" + pkg.release + "/updates/dkms/";
  driverpkg::sh("modinfo -F vgpu " + updates + "quelvan.ko", &out);
  EXPECT_EQ(out, "disabled\n");
  EXPECT_TRUE(isFileExists(updates + "vtnfs.ko"));
  EXPECT_FALSE(isFileExists(updates + "vtn_peer_mem_drv.ko"));
  EXPECT_EQ(driverpkg::read("/etc/modules-load.d/quelvan.conf"), "quelvan\n");
  EXPECT_FALSE(isFileExists("/etc/modprobe.d/quelvan.conf"));  // no module parameters
  EXPECT_TRUE(contains(pkg.calls(), "modprobe quelvan"));
  std::string first = driverpkg::read(manifest);
  EXPECT_EQ(first.rfind("OSTREL /opt/qv/ostrel-4.3.0/\n", 0), 0u) << first;
  EXPECT_TRUE(contains(first, "DKMS 4.3.0 \n"));
  EXPECT_TRUE(contains(first, "SERVICE quelvanostrel-init@quelvan "));
  EXPECT_TRUE(isFileExists("/opt/qv/ostrel-4.3.0/bin/zusmi"));

  // Second: a fresh copy of the package with vGPU. The first is removed through its manifest
  // (the loaded module unloaded, its DKMS registration dropped), then installed anew.
  ASSERT_EQ(driverpkg::sh("rm -rf " + kernel + " && cp -a " QUELVAN_DRIVERPKG_DIR "/kernel " + kernel +
                          " && : > /tmp/stub.log"),
            0);
  ASSERT_EQ(install(pkg, ""), 0) << driverpkg::read("/tmp/out") << driverpkg::read(log);
  const std::string calls = pkg.calls();
  EXPECT_LT(calls.find("rmmod quelvan"), calls.find("modprobe quelvan")) << calls;
  EXPECT_TRUE(contains(driverpkg::read(log), "Uninstall: " + pkg.root + "/etc/modules-load.d/quelvan.conf Succeed."));
  EXPECT_FALSE(isDirExists(dkms_tree + "4.3.0"));
  EXPECT_TRUE(isDirExists(dkms_tree + "4.3.1/" + pkg.release + "/x86_64/module"));
  driverpkg::sh("modinfo -F vgpu " + updates + "quelvan.ko", &out);
  EXPECT_EQ(out, "enabled\n");
  EXPECT_TRUE(contains(driverpkg::read(manifest), "DKMS 4.3.1 \n"));

  // Third: the direct way with a load the kernel refuses: 49, and the record still lists the
  // installed module so that the next installation removes it.
  EXPECT_EQ(install(pkg, "--disable-dkms --no-systemd", "QUELVAN_TEST_INSMOD=17"), 49);
  EXPECT_TRUE(contains(driverpkg::read("/tmp/out"), "Error code: 49  message: Module insertion failed."));
  EXPECT_TRUE(contains(driverpkg::read(manifest),
                       "FILE " + pkg.root + "/lib/modules/" + pkg.release + "/kernel/drivers/misc/quelvan.ko "));
}
