// ostrel-driver-installer end to end on the real test package: the DKMS way twice from the same
// package with other options and another install path (the second installation removes the
// first through its manifest and leaves what the administrator wrote or edited), then a failed
// load that still leaves its uninstall record.
#include <cstdlib>

#include "driverpkg_sandbox.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/utils.h"

namespace {

int install(const driverpkg::Package& pkg, const std::string& args, const std::string& env = "",
            const std::string& path = "/opt/qv") {
  return driverpkg::sh("cd / && QUELVAN_TEST_ROOT=" + pkg.root + " QUELVAN_TEST_RELEASE=" + pkg.release + " " + env +
                       " " + shell_quote(QUELVAN_ENTRY_HARNESS) + " --install-path " + path + " " + args +
                       " > /tmp/out 2>&1");
}

bool contains(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

// A digest of the package parts an installation reads, content and times.
std::string package_state(const driverpkg::Package& pkg) {
  std::string out;
  driverpkg::sh("cd " + shell_quote(pkg.dir) + " && tar -c kernel conf bin .manifest | md5sum", &out);
  return out;
}

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
  const std::string shipped = package_state(pkg);
  ASSERT_EQ(install(pkg, "--without-vgpu --disable-vtn-peer-mem-drv"), 0) << driverpkg::read("/tmp/out")
                                                                         << driverpkg::read(log);
  EXPECT_EQ(package_state(pkg), shipped);  // configured and built in a staging copy
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
  std::string tmp;
  driverpkg::sh("ls /tmp", &tmp);
  EXPECT_FALSE(contains(tmp, "quelvan-stage-")) << tmp;  // the staging copy is gone

  // Second: from the same package (only this test's version edit undone), with vGPU, at another
  // path. The administrator meanwhile wrote configuration files no record names and edited a
  // recorded one: all of them stay, and the run says so.
  ASSERT_EQ(driverpkg::sh("cp " QUELVAN_DRIVERPKG_DIR "/kernel/dkms.conf " + kernel + "/dkms.conf && : > /tmp/stub.log"),
            0);
  const std::string edited = "/opt/qv/ostrel-4.3.0/bin/ostrel-driver-uninstaller";
  ASSERT_EQ(driverpkg::sh("mkdir -p /etc/quelvan && echo mine > /etc/quelvan/settings && "
                          "echo 'options quelvan debug=1' > /etc/modprobe.d/quelvan.conf && "
                          "echo '#!/bin/sh' > /usr/bin/quelvanostrel.sh && echo '# local change' >> " + edited),
            0);
  const std::string shipped_again = package_state(pkg);
  ASSERT_EQ(install(pkg, "", "", "/opt/qv2"), 0) << driverpkg::read("/tmp/out") << driverpkg::read(log);
  EXPECT_EQ(package_state(pkg), shipped_again);
  const std::string calls = pkg.calls();
  EXPECT_LT(calls.find("rmmod quelvan"), calls.find("modprobe quelvan")) << calls;
  EXPECT_TRUE(contains(driverpkg::read(log), "Uninstall: " + pkg.root + "/etc/modules-load.d/quelvan.conf Succeed."));
  EXPECT_FALSE(isDirExists(dkms_tree + "4.3.0"));
  EXPECT_TRUE(isDirExists(dkms_tree + "4.3.1/" + pkg.release + "/x86_64/module"));
  driverpkg::sh("modinfo -F vgpu " + updates + "quelvan.ko", &out);
  EXPECT_EQ(out, "enabled\n");
  EXPECT_TRUE(isFileExists(updates + "vtn_peer_mem_drv.ko"));
  EXPECT_TRUE(contains(driverpkg::read(manifest), "DKMS 4.3.1 \n"));
  EXPECT_TRUE(contains(driverpkg::read("/lib/systemd/system/quelvanostrel-init@.service"),
                       "ExecStart=/opt/qv2/ostrel-4.3.0//bin/quelvanostrel.sh start %i\n"));
  EXPECT_EQ(driverpkg::read("/etc/quelvan/settings"), "mine\n");
  EXPECT_EQ(driverpkg::read("/etc/modprobe.d/quelvan.conf"), "options quelvan debug=1\n");
  EXPECT_EQ(driverpkg::read("/usr/bin/quelvanostrel.sh"), "#!/bin/sh\n");
  EXPECT_TRUE(contains(driverpkg::read(edited), "# local change"));
  const std::string said = driverpkg::read("/tmp/out");
  EXPECT_TRUE(contains(said, "Found changed file during uninstall ostrel, changed file will not be remove.")) << said;
  for (const char* left : {"/etc/modprobe.d/quelvan.conf", "/etc/quelvan", "/usr/bin/quelvanostrel.sh"})
    EXPECT_TRUE(contains(said, "Left in place: " + pkg.root + left + " (no uninstall record shows that this installer made it).\n"))
        << left << said;

  // Third: the direct way with a load the kernel refuses: 49, and the record still lists the
  // installed module so that the next installation removes it.
  EXPECT_EQ(install(pkg, "--disable-dkms --no-systemd", "QUELVAN_TEST_INSMOD=17"), 49);
  EXPECT_TRUE(contains(driverpkg::read("/tmp/out"), "Error code: 49  message: Module insertion failed."));
  EXPECT_TRUE(contains(driverpkg::read(manifest),
                       "FILE " + pkg.root + "/lib/modules/" + pkg.release + "/kernel/drivers/misc/quelvan.ko "));
}
