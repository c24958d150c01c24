// Driver utilities, the systemd unit and the uninstall record, on a package in a fixture root
// with a stub systemctl.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "installer/driver/driver_installer.h"
#include "installer/tests/fixture_root.h"

namespace fs = std::filesystem;

namespace {

class Package : public ::testing::Test {
 protected:
  FixtureRoot fx;
  std::string pkg = fx.at("/pkg");

  void SetUp() override {
    fx.write(pkg + "/conf/quelvanostrel-init@.service", "[Service]\nExecStart=PREFIX/bin/quelvanostrel.sh %i\n", false);
    fx.write(pkg + "/bin/pci_timeout.sh", "#!/bin/sh\n", false);
    fx.write(pkg + "/bin/quelvanostrel.sh", "#!/bin/sh\n", false);
    fs::permissions(pkg + "/bin/pci_timeout.sh", fs::perms::all);
    fx.write(pkg + "/ostrel/bin/zusmi", "smi", false);
    fx.write(pkg + "/ostrel/lib64/libzuml.so", "zuml", false);
    fx.write(pkg + "/ostrel/.build-id", "hidden", false);
    fs::create_directories(fx.at("/lib/systemd/system"));
    fx.write("/proc/modules", "");
    fs::current_path(pkg);
    fx.stub({"systemctl"});
  }

  DriverInstaller engine(const std::string& install_path) {
    driverOptions o;
    o.install_path = install_path;
    DriverInstaller d(o);
    d.environment = 1;
    d.arch = "x86_64";
    fs::create_directories(d.prefix);
    return d;
  }
};

TEST_F(Package, UtilitiesTreeAndLibLink) {
  DriverInstaller d = engine(fx.at("/usr/local"));
  const std::string p = d.prefix;
  ASSERT_EQ(d.install_driver_utils(), 0);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& f : d.installed) got.push_back({f.type, f.path});
  std::vector<std::pair<std::string, std::string>> expected = {
      {"FILE", p + "bin/zusmi"}, {"DIR", p + "bin"},          {"FILE", p + "lib64/libzuml.so"},
      {"DIR", p + "lib64"},      {"SYMLINK", p + "/lib"},
  };
  std::sort(got.begin(), got.end() - 1);
  std::sort(expected.begin(), expected.end() - 1);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(fs::read_symlink(p + "lib"), "lib64");
  EXPECT_EQ(d.installed[0].md5.size(), 32u);

  // A second run finds the link taken and records it again.
  ASSERT_EQ(d.install_driver_utils(), 0);
  EXPECT_NE(fx.log().find("already be taken, skip symlink generate"), std::string::npos);
  EXPECT_EQ(d.installed.back().type, "SYMLINK");

  fs::remove_all(pkg + "/ostrel");
  EXPECT_EQ(d.install_driver_utils(), 39);
}

TEST_F(Package, ServiceUnitInstallation) {
  DriverInstaller d = engine(fx.at("/opt/a&b|c"));  // sed and shell specials in the prefix
  fx.write("/proc/modules", "vtnfs 100 0 - Live 0x0\n");
  ASSERT_EQ(d.PostInstallation(), 0);
  // The prefix is filled into a staged copy; the package's template stays as shipped.
  EXPECT_EQ(fx.read(pkg + "/conf/quelvanostrel-init@.service"),
            "[Service]\nExecStart=PREFIX/bin/quelvanostrel.sh %i\n");
  EXPECT_EQ(fx.stub_log(), "systemctl enable quelvanostrel-init@quelvan,vtnfs\n"
                           "systemctl restart quelvanostrel-init@quelvan,vtnfs\n");
  const std::string unit_file = fx.at("/lib/systemd/system/quelvanostrel-init@.service");
  ASSERT_EQ(d.installed.size(), 5u);
  EXPECT_EQ(d.installed[0].path, unit_file);
  EXPECT_EQ(fx.read(unit_file), "[Service]\nExecStart=" + d.prefix + "/bin/quelvanostrel.sh %i\n");
  EXPECT_EQ(d.installed[0].md5, md5sum(unit_file));
  EXPECT_EQ(d.installed[1].path, d.prefix + "bin/pci_timeout.sh");  // the new bin directory
  EXPECT_EQ(d.installed[2].type, "DIR");
  EXPECT_EQ(d.installed[3].path, d.prefix + "/bin/quelvanostrel.sh");
  EXPECT_EQ(d.installed[4].type, "SERVICE");
  EXPECT_EQ(d.installed[4].path, "quelvanostrel-init@quelvan,vtnfs");
  EXPECT_EQ(d.installed[4].md5, md5sum(unit_file));
  struct stat st;
  ASSERT_EQ(stat((d.prefix + "bin/pci_timeout.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0744u);  // group and others lose write and execute
}

TEST_F(Package, ServiceUnitFailures) {
  {
    SCOPED_TRACE("no systemd");
    DriverInstaller d = engine(fx.at("/opt"));
    d.config.no_systemd = true;
    EXPECT_EQ(d.PostInstallation(), 0);
    EXPECT_TRUE(d.installed.empty());
    EXPECT_NE(fx.read(pkg + "/conf/quelvanostrel-init@.service").find("PREFIX"), std::string::npos);
  }
  {
    SCOPED_TRACE("enable fails");
    DriverInstaller d = engine(fx.at("/opt"));
    setenv("STUB_SYSTEMCTL_ENABLE", "1", 1);
    EXPECT_EQ(d.PostInstallation(), 83);
    unsetenv("STUB_SYSTEMCTL_ENABLE");
    EXPECT_EQ(d.installed.size(), 4u);  // the files, no SERVICE
    EXPECT_EQ(d.installed.back().type, "FILE");
  }
  {
    SCOPED_TRACE("inside a container");
    DriverInstaller d = engine(fx.at("/opt"));
    Service s{"quelvanostrel-init@quelvan", fts, 3, -128, 0};
    fs::remove(fx.root + "/stub.log");
    EXPECT_EQ(d.do_install_service(s, 2, d.prefix, d.arch), 0);
    EXPECT_EQ(fx.stub_log(), "");
    EXPECT_EQ(d.installed.size(), 3u);
  }
  {
    SCOPED_TRACE("missing script");
    fs::remove_all(fx.at("/lib/systemd/system"));
    fs::create_directories(fx.at("/lib/systemd/system"));
    fs::remove(pkg + "/bin/quelvanostrel.sh");
    DriverInstaller d = engine(fx.at("/srv"));
    Service s{"quelvanostrel-init@quelvan", fts, 3, -128, 0};
    EXPECT_EQ(d.do_install_service(s, 1, d.prefix, d.arch), 78);
    EXPECT_TRUE(fs::exists(fx.at("/lib/systemd/system/quelvanostrel-init@.service")));
    EXPECT_TRUE(fs::exists(d.prefix + "bin/pci_timeout.sh"));
    EXPECT_NE(fx.log().find("service or bin not existed ./bin/quelvanostrel.sh\n"
                            "----------------------------------  ERROR CODE (78)"),
              std::string::npos);
  }
}

TEST_F(Package, UninstallRecord) {
  const std::string manifest = fx.at("/var/log/quelvanostrel/uninstall/.driver_uninstall_manifests");
  {
    DriverInstaller d = engine(fx.at("/opt/drv"));
    d.installed = {{"FILE", d.prefix + "bin/tool", "aa"},
                   {"SYMLINK", d.prefix + "/lib", ""},
                   {"DIR", d.prefix + "bin", ""},
                   {"FILE", d.prefix + "EULA.txt", "bb"},
                   {"DKMS", "4.3.0", ""},
                   {"SERVICE", "quelvanostrel-init@quelvan", "cc"}};
    d.created_dirs = {{"DIR", fx.at("/opt"), ""}};
    EXPECT_EQ(d.saveInstalledInfo(), 0);
    const std::string p = d.prefix;
    EXPECT_EQ(fx.read(manifest), "OSTREL " + p + "\n" +
                                     "SERVICE quelvanostrel-init@quelvan cc\n" +
                                     "FILE " + p + "bin/tool aa\n" +
                                     "DKMS 4.3.0 \n" +
                                     "RFILE " + p + "EULA.txt bb\n" +
                                     "RLINK " + p + "/lib \n" +
                                     "DIR " + p + "bin\n" +
                                     "DIR " + p + "\n" +
                                     "DIR " + fx.at("/opt/drv/") + "\n" +
                                     "DIR " + fx.at("/opt") + "\n");
  }
  DriverInstaller d = engine(fx.at("/usr/local/ostrel-4.3.0"));
  d.saveInstalledInfo();
  EXPECT_EQ(fx.read(manifest), "OSTREL " + d.prefix + "\nDIR " + d.prefix + "\n");
}

}  // namespace
