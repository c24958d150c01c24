// The direct way on the real test package: real make against the installed kernel headers,
// openssl key generation, the kernel's sign-file, depmod; only the load is faked.
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "driverpkg_sandbox.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/utils.h"

namespace {

const std::string signature_marker = "~Module signature appended~\n";

bool signed_module(const std::string& file) {
  const std::string text = driverpkg::read(file);
  return text.size() > signature_marker.size() &&
         text.compare(text.size() - signature_marker.size(), signature_marker.size(), signature_marker) == 0;
}

std::string modinfo(const std::string& field, const std::string& file) {
  std::string out;
  driverpkg::sh("modinfo -F " + field + " " + shell_quote(file) + " 2>/dev/null", &out);
  return out;
}

driverOptions direct_options() {
  driverOptions o;
  o.with_vgpu = true;
  o.disable_dkms = true;
  o.install_path = "/opt/qv";
  return o;
}

}  // namespace

TEST(DirectBuild, SignsInstallsAndMapsLoadFailures) {
  DRIVERPKG_SANDBOXED();
  driverpkg::Package pkg;
  // Signing forced by the kernel; NVMe peer-DMA hook and an OFED stack with ib_core loaded, so
  // both companions are built too.
  pkg.answer("test_configuration_option CONFIG_MODULE_SIG_FORCE = 0");
  pkg.write("/proc/kallsyms", "0000000000000000 T nvme_v1_register_nvfs_dma_ops\n");
  pkg.write("/proc/modules", "ib_core 425984 0 - Live 0x0000000000000000\n");
  ASSERT_EQ(driverpkg::sh("mkdir -p /usr/src/ofa_kernel/default/include/rdma && "
                          "touch /usr/src/ofa_kernel/default/include/rdma/peer_mem.h "
                          "/usr/src/ofa_kernel/default/Module.symvers"),
            0);
  const std::string misc = "/lib/modules/" + pkg.release + "/kernel/drivers/misc/";

  DriverInstaller d(direct_options());
  ASSERT_EQ(d.PreInstallation(), 0);
  ASSERT_TRUE(d.config.sign_module);
  ASSERT_EQ(d.StartInstallation(), 0) << pkg.log();

  // One generated pair signed all three modules, then was saved under its fingerprint.
  EXPECT_TRUE(d.options.key_pair_generated);
  const std::string signer = modinfo("sig_key", misc + "quelvan.ko");
  EXPECT_FALSE(signer.empty());
  for (const char* name : {"quelvan", "vtnfs", "vtn_peer_mem_drv"}) {
    EXPECT_TRUE(signed_module(misc + name + ".ko")) << name;
    EXPECT_EQ(modinfo("sig_key", misc + name + ".ko"), signer) << name;
  }
  EXPECT_EQ(modinfo("vgpu", misc + "quelvan.ko"), "enabled\n");
  std::string fp;
  driverpkg::sh("openssl x509 -noout -fingerprint -inform DER -in " + shell_quote(d.options.module_signing_public_key) +
                    " | sed 's/.*=//; s/://g' | cut -c1-6",
                &fp);
  fp.pop_back();
  const std::string saved = host::path("/usr/share/quelvan/quelvan-cert-" + fp);
  EXPECT_EQ(d.options.module_signing_public_key, saved + ".der");
  EXPECT_EQ(d.options.module_signing_secret_key, saved + ".key");
  std::string leftovers;
  driverpkg::sh("ls /tmp | grep quelvantmp", &leftovers);
  EXPECT_EQ(leftovers, "");  // the temporary pair is gone
  for (const FileInfo& f : d.installed)  // the saved pair outlives reinstalls: never recorded
    EXPECT_NE(f.path.rfind(host::path("/usr/share/quelvan"), 0), 0u) << f.path;

  // The saved pair as the user's keys; the kernel refuses the signature (EKEYREJECTED): the
  // companions are installed but not loaded, and the result is 50.
  driverOptions user = direct_options();
  user.disable_dkms = false;
  user.module_signing_secret_key = d.options.module_signing_secret_key;
  user.module_signing_public_key = d.options.module_signing_public_key;
  {
    DriverInstaller u(user);
    ASSERT_EQ(u.PreInstallation(), 0);
    EXPECT_TRUE(u.options.disable_dkms);
    driverpkg::insmod_errno = EKEYREJECTED;
    EXPECT_EQ(u.install_driver(), 50);
    EXPECT_FALSE(u.options.key_pair_generated);
    EXPECT_NE(pkg.log().find("Skip load module vtnfs"), std::string::npos);
    EXPECT_NE(pkg.log().find("Skip load module vtn_peer_mem_drv"), std::string::npos);
  }
  // Other load errors are 49.
  {
    DriverInstaller u(user);
    ASSERT_EQ(u.PreInstallation(), 0);
    driverpkg::insmod_errno = EEXIST;
    EXPECT_EQ(u.install_driver(), 49);
    EXPECT_NE(pkg.log().find("Module load failed. error: Module already in kernel"), std::string::npos);
  }
  // A target kernel that is not the running one: installed, not loaded, 38.
  {
    DriverInstaller u(user);
    ASSERT_EQ(u.PreInstallation(), 0);
    driverpkg::insmod_errno = 0;
    std::remove(host::path(misc + "quelvan.ko").c_str());
    host::set_kernel_release("0.0.0-other");
    EXPECT_EQ(u.install_driver(), 38);
    EXPECT_TRUE(isFileExists(misc + "quelvan.ko"));
  }
}
