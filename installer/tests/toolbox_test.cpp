// Runs the real ostrel-toolbox-installer as root inside a throw-away root: a private mount
// namespace with a tmpfs as "/" (the host's /usr, /proc and /dev bound in) entered with chroot,
// so install paths like /opt/x and / touch nothing on the machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "run_command.h"

namespace fs = std::filesystem;

namespace {

// Prepares the root R with a package directory /pkg beside the installer: a tool, bin/zu-smi, a
// hidden file and an old copy of the installer. run and show are helpers for the test's script.
constexpr const char* kSetup = R"(set -e
mount -t tmpfs tmpfs "$R"
mkdir -p "$R/usr" "$R/proc" "$R/dev" "$R/pkg/bin" "$R/opt" "$R/root"
ln -s usr/bin "$R/bin"; ln -s usr/lib "$R/lib"; ln -s usr/lib64 "$R/lib64"; ln -s usr/sbin "$R/sbin"
mount --bind /usr "$R/usr"; mount --bind /proc "$R/proc"; mount --bind /dev "$R/dev"
cp "$PROG" "$R/pkg/ostrel-toolbox-installer"
echo tool > "$R/pkg/tool1"; echo smi > "$R/pkg/bin/zu-smi"
echo hidden > "$R/pkg/.hidden"; echo old > "$R/pkg/ostrel-toolbox-installer.old"
set +e
run() { chroot "$R" env -i HOME=/root PATH=/usr/bin:/bin /pkg/ostrel-toolbox-installer "$@"; echo "rc=$?"; }
show() { (cd "$R" && find "$@" -printf '%p %l\n' | sort); }
)";

class Toolbox : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for mount namespaces and chroot";
    if (system("unshare -m --propagation private true 2>/dev/null") != 0)
      GTEST_SKIP() << "unshare -m is not available";
    char tmpl[] = "/tmp/toolbox_test-XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::create_directories(dir_ / "root");
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Output (standard output and error) of the setup followed by script.
  std::string Run(const std::string& script) {
    std::ofstream(dir_ / "script.sh") << kSetup << script;
    const std::string cmd = "R=" + (dir_ / "root").string() + " PROG=" TOOLBOX_INSTALLER
                            " unshare -m --propagation private sh " + (dir_ / "script.sh").string() +
                            " 2>&1";
    return testkit::run_command(cmd).output;
  }

  fs::path dir_;
};

std::string Success(const std::string& location) {
  return "\nOstrel Toolbox installation succeed.\nToolbox is installed in " + location +
         "\nPlease make sure that\n- PATH includes " + location + "/bin\n";
}

TEST_F(Toolbox, InstallsIntoHomeWithoutLink) {
  EXPECT_EQ(Run("run; show root"),
            Success("/root/ostrel-toolbox-1.0.0") +
                "rc=0\n"
                "root \n"
                "root/ostrel-toolbox-1.0.0 \n"
                "root/ostrel-toolbox-1.0.0/bin \n"
                "root/ostrel-toolbox-1.0.0/bin/zu-smi \n"
                "root/ostrel-toolbox-1.0.0/tool1 \n");
}

TEST_F(Toolbox, RefusesWithoutHomeOrInstallPath) {
  EXPECT_EQ(Run("chroot \"$R\" env -i /pkg/ostrel-toolbox-installer; echo rc=$?; show . -maxdepth 1 -newer \"$R/pkg\""),
            "HOME is not set; name the install location with --install-path.\nrc=255\n");
}

TEST_F(Toolbox, InstallPathForms) {
  struct Case {
    std::string cwd, install_path, base;
  };
  const Case cases[] = {
      {"/", "/opt/x", "/opt/x/ostrel-4.3.0/"},
      {"/", "/opt/ostrel-4.3.0", "/opt/ostrel-4.3.0/"},
      {"/", "/opt/ostrel-4.3.0/", "/opt/ostrel-4.3.0/"},
      {"/", "/opt", "/opt/ostrel-4.3.0/"},
      {"/", "/", "/ostrel-4.3.0/"},
      {"/opt", "rel", "/opt/rel/ostrel-4.3.0/"},  // relative: taken from the current directory
      {"/", "/opt/a b/$(touch /pwned);x", "/opt/a b/$(touch /pwned);x/ostrel-4.3.0/"},
  };
  for (const auto& c : cases) {
    const std::string out =
        Run("chroot \"$R\" env -i PATH=/usr/bin sh -c 'cd \"$1\" && exec /pkg/ostrel-toolbox-installer "
            "--install-path \"$2\"' sh '" + c.cwd + "' '" + c.install_path + "'; echo rc=$?\n"
            "B='" + c.base + "'; ls -A \"$R$B/ostrel-toolbox-1.0.0\"; readlink \"$R$B/toolbox\"; "
            "ls \"$R/pwned\" 2>/dev/null\n");
    EXPECT_EQ(out, Success(c.base + "toolbox") + "rc=0\nbin\ntool1\n" + c.base +
                       "ostrel-toolbox-1.0.0\n")
        << c.install_path;
  }
}

TEST_F(Toolbox, SecondRunOverwritesFilesAndKeepsTheLink) {
  const std::string out = Run(
      "run --install-path /opt/x >/dev/null\n"
      "ln -sfn /elsewhere \"$R/opt/x/ostrel-4.3.0/toolbox\"; echo v2 > \"$R/pkg/tool1\"\n"
      "run --install-path /opt/x\n"
      "cat \"$R/opt/x/ostrel-4.3.0/ostrel-toolbox-1.0.0/tool1\"; show opt\n");
  EXPECT_EQ(out, Success("/opt/x/ostrel-4.3.0/toolbox") +
                     "rc=0\nv2\n"
                     "opt \n"
                     "opt/x \n"
                     "opt/x/ostrel-4.3.0 \n"
                     "opt/x/ostrel-4.3.0/ostrel-toolbox-1.0.0 \n"
                     "opt/x/ostrel-4.3.0/ostrel-toolbox-1.0.0/bin \n"
                     "opt/x/ostrel-4.3.0/ostrel-toolbox-1.0.0/bin/zu-smi \n"
                     "opt/x/ostrel-4.3.0/ostrel-toolbox-1.0.0/tool1 \n"
                     "opt/x/ostrel-4.3.0/toolbox /elsewhere\n");
}

TEST_F(Toolbox, NonLinkNamedToolboxFailsAfterCopying) {
  for (const std::string make : {"echo f >", "mkdir"}) {
    const std::string out = Run("mkdir -p \"$R/opt/ostrel-4.3.0\"; " + make +
                                " \"$R/opt/ostrel-4.3.0/toolbox\"\n"
                                "run --install-path /opt; ls \"$R/opt/ostrel-4.3.0/ostrel-toolbox-1.0.0\"\n");
    EXPECT_EQ(out,
              "File named 'toolbox' already exists and is not a symlink.\n"
              "Ostrel Toolbox installation failed.\nrc=143\nbin\ntool1\n")
        << make;
  }
}

TEST_F(Toolbox, EmptyPackageDirectorySucceeds) {
  EXPECT_EQ(Run("rm -r \"$R/pkg/tool1\" \"$R/pkg/bin\" \"$R/pkg/ostrel-toolbox-installer.old\"\n"
                "run --install-path /opt; ls -A \"$R/opt/ostrel-4.3.0/ostrel-toolbox-1.0.0\"\n"),
            Success("/opt/ostrel-4.3.0/toolbox") + "rc=0\n");
}

TEST_F(Toolbox, UnwritableBaseEndsWith255) {
  struct Case {
    std::string prepare, out;
  };
  const Case cases[] = {
      {"", "Failed to create install-path: /opt/ro/ostrel-4.3.0/\nRead-only file system\nrc=255\n"},
      {"mkdir \"$R/opt/ro/ostrel-4.3.0\"",
       "Permission denied on install-path: /opt/ro/ostrel-4.3.0/\nrc=255\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run("mkdir \"$R/opt/ro\"; " + c.prepare + "\n" +
                  "mount --bind \"$R/opt/ro\" \"$R/opt/ro\" && mount -o remount,bind,ro \"$R/opt/ro\"\n"
                  "run --install-path /opt/ro\n"),
              c.out);
  }
}

TEST_F(Toolbox, FailedCopyEndsWith39) {
  const std::string out = Run(
      "mkdir \"$R/opt/small\" && mount -t tmpfs -o size=64k tmpfs \"$R/opt/small\"\n"
      "head -c 1048576 /dev/zero > \"$R/pkg/big\"\n"
      "run --install-path /opt/small\n");
  EXPECT_EQ(out, "copy file failed: /pkg/big\nOstrel Toolbox installation failed.\nrc=39\n");
}

TEST_F(Toolbox, CommandLineErrorsAndHelp) {
  const std::string out = Run("run --silent; run --help | head -n 1; run --zuquiet --install-path /opt >/dev/null; echo $?\n");
  EXPECT_EQ(out,
            "The following argument was not expected: --silent\n"
            "Run with --help for more information.\nrc=109\n"
            "Ostrel Toolbox Installation Tool.\n0\n");
}

}  // namespace
