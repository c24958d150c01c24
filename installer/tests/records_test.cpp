// Installation records: the collector, the two manifest writers, the reader and a full
// install-record-uninstall round trip on a real tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "installer/driver/driver_installer.h"
#include "installer/tests/fixture_root.h"
#include "installer/uninstall.h"
#include "installer/utils.h"

namespace fs = std::filesystem;

TEST(Records, ReservedTest) {
  struct Case {
    const char* path;
    const char* install;
    bool reserved;
  } cases[] = {
      {"/opt/ostrel-4.3.0/lib", "/opt/ostrel-4.3.0/", true},
      {"/opt/ostrel-4.3.0//lib", "/opt/ostrel-4.3.0/", true},  // leading "/" of the rest dropped
      {"/opt/ostrel-4.3.0/lib64/libcuda.so.1", "/opt/ostrel-4.3.0", true},
      {"/opt/ostrel-4.3.0/lib64/libcuda.so.2", "/opt/ostrel-4.3.0", false},
      {"/opt/ostrel-4.3.0/bin/zusmi/x", "/opt/ostrel-4.3.0", false},
      {"/opt/ostrel-4.3.0///", "/opt/ostrel-4.3.0", false},   // only "/" left
      {"/opt/ostrel-4.3.0", "/opt/ostrel-4.3.0", false},       // not longer than the prefix
      {"/xxx/ostrel-4.3.0/EULA.txt", "/opt/ostrel-4.3.0", true},  // lengths only
  };
  for (const auto& c : cases) EXPECT_EQ(is_reserved(c.path, c.install), c.reserved) << c.path;
}

TEST(Records, CollectorWalksDepthFirstAndSkipsDotNames) {
  FixtureRoot fx;
  std::string top = fx.at("/pkg");
  fx.write(top + "/a/b/file", "x", false);
  fx.write(top + "/.hidden", "x", false);
  fs::create_symlink("a", top + "/link");
  std::vector<FileInfo> rec = recursiveDir(top);
  ASSERT_EQ(rec.size(), 5u);
  auto pos = [&](const std::string& p) {
    return std::find_if(rec.begin(), rec.end(), [&](const FileInfo& f) { return f.path == p; }) -
           rec.begin();
  };
  EXPECT_LT(pos(top + "/a/b/file"), pos(top + "/a/b"));
  EXPECT_LT(pos(top + "/a/b"), pos(top + "/a"));
  EXPECT_EQ(rec.back().type, "DIR");
  EXPECT_EQ(rec.back().path, top);
  EXPECT_EQ(rec[pos(top + "/link")].type, "SYMLINK");
  EXPECT_EQ(rec[pos(top + "/a/b/file")].md5, "9dd4e461268c8034f5c8564e155c67a6");  // md5 of "x"
  EXPECT_EQ(process_state.digests.at(top + "/a/b/file"), "9dd4e461268c8034f5c8564e155c67a6");

  // The two-argument form lists the source tree and records the installed location.
  fs::current_path(top);
  fx.write(fx.at("/dst/a/b/file"), "x", false);
  rec = recursiveDir("a", fx.at("/dst"));
  ASSERT_EQ(rec.size(), 3u);
  EXPECT_EQ(rec[0].path, fx.at("/dst/a/b/file"));
  EXPECT_EQ(rec[2].path, fx.at("/dst/a"));
}

TEST(Records, WritersGroupAndMarkReservedItems) {
  const std::string p = "/opt/ostrel-4.3.0/";
  std::vector<FileInfo> rec = {
      {"DIR", p + "bin", ""},
      {"FILE", p + "EULA.txt", "e1"},
      {"SYMLINK", p + "lib", ""},
      {"FILE", p + "bin/tool", "t1"},
      {"SERVICE", "quelvanostrel-init@quelvan", "s1"},
      {"SYMLINK", "/usr/bin/tool", ""},
      {"DKMS", "4.3.0", ""},
  };
  std::vector<std::string> generic = {
      "SERVICE quelvanostrel-init@quelvan s1", "SYMLINK /usr/bin/tool",
      "FILE /opt/ostrel-4.3.0/bin/tool t1",    "DKMS 4.3.0 ",
      "RLINK /opt/ostrel-4.3.0/lib ",          "RFILE /opt/ostrel-4.3.0/EULA.txt e1",
      "DIR /opt/ostrel-4.3.0/bin",
  };
  EXPECT_EQ(sortFileinfoToString(rec, p), generic);
  // The driver writer puts RFILE before RLINK.
  std::vector<std::string> driver = generic;
  std::swap(driver[4], driver[5]);
  driverOptions o;
  o.install_path = p;
  EXPECT_EQ(DriverInstaller(o).driver_sortFileinfoToString(rec, p), driver);

  // The driver writer only marks paths that begin with the prefix; the generic one compares
  // lengths only.
  std::vector<FileInfo> other = {{"FILE", "/xxx/ostrel-4.3.0/EULA.txt", "e"}};
  EXPECT_EQ(sortFileinfoToString(other, p)[0], "RFILE /xxx/ostrel-4.3.0/EULA.txt e");
  EXPECT_EQ(DriverInstaller(o).driver_sortFileinfoToString(other, p)[0],
            "FILE /xxx/ostrel-4.3.0/EULA.txt e");

  EXPECT_EQ(sortFiles(rec)[0].type, "SYMLINK");
  EXPECT_EQ(sortFiles(rec).back().type, "DIR");
}

TEST(Records, PathsTheFormatCannotHoldAreRefused) {
  FixtureRoot fx;
  std::vector<FileInfo> rec = {
      {"FILE", "/opt/my tools/a", "d1"},
      {"FILE", "/opt/x\nFILE /etc/passwd", "d2"},
      {"FILE", "/opt/ok", "d3"},
  };
  EXPECT_EQ(sortFileinfoToString(rec, "/opt/"), std::vector<std::string>{"FILE /opt/ok d3"});
  driverOptions o;
  o.install_path = "/opt";
  EXPECT_EQ(DriverInstaller(o).driver_sortFileinfoToString(rec, "/opt/"),
            std::vector<std::string>{"FILE /opt/ok d3"});
  EXPECT_NE(fx.log().find("Cannot record '/opt/my tools/a' in the uninstall manifest"),
            std::string::npos);
}

TEST(Records, ReaderFieldsAndServiceFilter) {
  FixtureRoot fx;
  std::string m = fx.write("/manifest",
                           "OSTREL /opt/ostrel-4.3.0/\n"
                           "SERVICE quelvanostrel-init@quelvan abc\n"
                           "RLINK /opt/ostrel-4.3.0/lib \n"
                           "FILE /a  extra\n"
                           "\n");
  std::vector<FileInfo> r = parseManifest(false, m);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].md5, "/opt/ostrel-4.3.0/");  // a two-field line repeats its path
  EXPECT_EQ(r[1].md5, "abc");
  EXPECT_EQ(r[2].md5, "/opt/ostrel-4.3.0/lib");
  EXPECT_EQ(r[3].md5, "");  // consecutive blanks give an empty field
  r = parseManifest(true, m);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1].type, "RLINK");
  EXPECT_TRUE(parseManifest(false, fx.at("/missing")).empty());
  EXPECT_NE(fx.log().find("Uninstall manifests not found at location"), std::string::npos);
}

// Installs a small product tree, records it, writes it with both writers, reads it back and
// uninstalls it.
class RoundTrip : public ::testing::Test {
 protected:
  FixtureRoot fx;
  std::string prefix = fx.at("/usr/local/ostrel-4.3.0/");

  std::vector<FileInfo> install() {
    fx.write(prefix + "bin/tool", "tool v1", false);
    fx.write(prefix + "bin/zusmi", "smi", false);
    fx.write(prefix + "lib64/libcuda.so.1", "cuda", false);
    fx.write(prefix + "share/doc/README", "doc", false);
    fx.write(prefix + "EULA.txt", "eula", false);
    fs::create_symlink("lib64", prefix + "lib");
    fs::create_symlink("libcuda.so.1", prefix + "lib64/libcuda.so");
    std::vector<FileInfo> rec = recursiveDir(prefix.substr(0, prefix.size() - 1));
    process_state.digests.clear();  // the uninstall runs in a later process
    return rec;
  }
  std::vector<FileInfo> written_and_read(const std::vector<FileInfo>& rec, bool driver_writer) {
    std::vector<std::string> lines;
    if (driver_writer) {
      driverOptions o;
      o.install_path = prefix;
      lines = DriverInstaller(o).driver_sortFileinfoToString(rec, prefix);
    } else {
      lines = sortFileinfoToString(rec, prefix);
    }
    lines.insert(lines.begin(), "OSTREL " + prefix);
    std::string m = fx.at("/var/log/quelvanostrel/uninstall/.driver_uninstall_manifests");
    stringToFile(lines, m);
    return parseManifest(false, m);
  }
};

TEST_F(RoundTrip, RemovesExactlyWhatWasInstalledKeepingEditedFiles) {
  for (bool driver_writer : {false, true}) {
    SCOPED_TRACE(driver_writer ? "driver writer" : "generic writer");
    process_state.uninstall = {};
    std::vector<FileInfo> rec = written_and_read(install(), driver_writer);
    ASSERT_EQ(rec.size(), 13u);  // OSTREL + 7 files and links + 5 directories
    fx.write(prefix + "share/doc/README", "edited by the user", false);
    fx.write(prefix + "share/notes", "the user's own file", false);
    testing::internal::CaptureStdout();
    EXPECT_EQ(executeUninstall(rec), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Found changed file during uninstall ostrel"),
              std::string::npos);
    // Left: the edited file and the directories holding it or the user's file.
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(fx.at("/usr/local")))
      left.push_back(e.path().string());
    std::sort(left.begin(), left.end());
    const std::string top = prefix.substr(0, prefix.size() - 1);
    EXPECT_EQ(left, (std::vector<std::string>{top, prefix + "share", prefix + "share/doc",
                                              prefix + "share/doc/README", prefix + "share/notes"}));
    fs::remove_all(prefix);
  }
}

TEST_F(RoundTrip, ReservedItemsStayWhileTheToolkitIsInstalled) {
  std::vector<FileInfo> rec = written_and_read(install(), true);
  fx.write(prefix + "lib64/libcudart.so", "toolkit", false);
  EXPECT_EQ(executeUninstall(rec), 0);
  for (const char* kept : {"bin/zusmi", "lib64/libcuda.so.1", "lib64/libcuda.so", "lib", "EULA.txt"})
    EXPECT_TRUE(exists_nofollow(prefix + kept)) << kept;
  for (const char* gone : {"bin/tool", "share/doc/README", "share"})
    EXPECT_FALSE(exists_nofollow(prefix + gone)) << gone;
  EXPECT_NE(fx.log().find("Uninstall: Toolkit not uninstalled. Skipping remove"), std::string::npos);
}

TEST_F(RoundTrip, UnknownKindStopsWithItsLineAndKeepsTheRest) {
  fx.write(prefix + "a", "a", false);
  fx.write(prefix + "b", "b", false);
  std::string m = fx.write("/manifest", "FILE " + prefix + "a " + md5sum(prefix + "a") + "\n" +
                                            "BOGUS " + prefix + "x\n" + "FILE " + prefix + "b " +
                                            md5sum(prefix + "b") + "\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(executeUninstall(parseManifest(false, m)), 141);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Uninstall: type:BOGUS's handler is not found.\n"
                     "----------------------------------  ERROR CODE (141)  ----------------------------------"),
            std::string::npos);
  EXPECT_FALSE(exists_nofollow(prefix + "a"));
  EXPECT_TRUE(exists_nofollow(prefix + "b"));
}

TEST(Records, QuietCleanupKeepsReservedFilesOfAnInstalledDriver) {
  FixtureRoot fx;
  const std::string p = fx.at("/opt/ostrel-4.3.0/");
  std::string eula = fx.write(p + "EULA.txt", "eula", false);
  std::string tool = fx.write(p + "bin/tool", "tool", false);
  std::string edited = fx.write(p + "bin/notes", "v1", false);
  std::vector<FileInfo> rec = {{"FILE", eula, md5sum(eula)},
                               {"FILE", tool, md5sum(tool)},
                               {"FILE", edited, md5sum(edited)},
                               {"DIR", p + "bin", ""},
                               {"DIR", p + "share", ""}};
  fx.write(edited, "v2", false);
  fs::create_directories(p + "share");
  fx.write(p + "bin/ostrel-driver-uninstaller", "", false);  // the driver is still installed
  cleanFiles(rec, p);
  EXPECT_TRUE(exists_nofollow(eula));
  EXPECT_FALSE(exists_nofollow(tool));
  EXPECT_TRUE(exists_nofollow(edited));
  EXPECT_TRUE(exists_nofollow(p + "bin"));
  EXPECT_FALSE(exists_nofollow(p + "share"));
  EXPECT_NE(fx.log().find("Found reserved file " + eula + " FILE"), std::string::npos);
}
