#include "installer/utils.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "installer/codes.h"
#include "installer/host.h"
#include "installer/logger.h"

namespace fs = std::filesystem;

namespace {

fs::path MakeTempDir(const char* name) {
  std::string tmpl = std::string("/tmp/") + name + "-XXXXXX";
  return mkdtemp(tmpl.data());
}

void WriteFile(const fs::path& p, const std::string& content, fs::perms perms = fs::perms::none) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
  if (perms != fs::perms::none) fs::permissions(p, perms);
}

// Restores an environment variable when the test ends.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    const char* v = getenv(name);
    had_ = v != nullptr;
    if (v) value_ = v;
  }
  ~EnvGuard() {
    if (had_)
      setenv(name_, value_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  std::string value_;
};

TEST(Utils, ExecReturnsTheWholeOutputAndStatus) {
  for (size_t n : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 5000u}) {
    std::string out;
    int status = -7;
    EXPECT_TRUE(exec("head -c " + std::to_string(n) + " /dev/zero | tr '\\0' a", out, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, std::string(n, 'a')) << n;
  }
  std::string out;
  int status = 0;
  EXPECT_FALSE(exec("echo partial; exit 3", out, status));
  EXPECT_EQ(status, 3);
  EXPECT_EQ(out, "partial\n");
  EXPECT_TRUE(exec("{ echo to-stderr >&2; }", out));
  EXPECT_EQ(out, "to-stderr\n");  // merged
  EXPECT_TRUE(exec("{ echo to-stderr >&2; }", out, status, false));
  EXPECT_EQ(out, "");
}

TEST(Utils, ShellQuoteSurvivesTheShell) {
  for (std::string s : {"plain", "a b", "it's", "$(touch /tmp/never)", "`x`;|&\"\\", ""}) {
    std::string out;
    ASSERT_TRUE(exec("printf %s " + shell_quote(s), out));
    EXPECT_EQ(out, s);
  }
}

TEST(Utils, Split) {
  struct Case {
    std::string s;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"a,,b,", {"a", "", "b"}}, {"", {}},          {"a", {"a"}},
      {",a", {"", "a"}},         {"a,b", {"a", "b"}}, {",", {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(split(c.s, ','), c.pieces) << c.s;
  EXPECT_EQ(join({"a", "", "b"}, ','), "a,,b");
  EXPECT_EQ(join({"a", "b"}, '\0'), "ab");
}

TEST(Utils, StringHelpers) {
  struct Case {
    std::string in, out;
  };
  for (const Case& c : {Case{"/opt/x/", ""}, Case{"name", "name"}, Case{"", ""},
                        Case{"/opt/x", "x"}, Case{"/", ""}})
    EXPECT_EQ(zu_basename(c.in), c.out) << c.in;
  for (const Case& c : {Case{"/a/b// \n", "/a/b"}, Case{"/ \t", ""}, Case{"x", "x"}})
    EXPECT_EQ(getRealPathString(c.in), c.out) << c.in;

  std::string s = " \t mid dle \n";
  trim(s);
  EXPECT_EQ(s, "mid dle");
  char buf[] = "  both  ";
  EXPECT_STREQ(trim_space(buf, 'a'), "both");
  char lead[] = "  lead  ";
  EXPECT_STREQ(trim_space(lead, 'l'), "lead  ");
  char tail[] = "  tail  ";
  EXPECT_STREQ(trim_space(tail, 't'), "  tail");

  std::vector<std::string> list = {"b", "a", "b", "c", "a"};
  remove_duplicated(list);
  EXPECT_EQ(list, (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_TRUE(validString("nvi", {"x", "nvidia"}));
  EXPECT_FALSE(validString("nvidia-x", {"nvidia"}));
  EXPECT_TRUE(iequals("UTF-8", "utf-8"));
  EXPECT_FALSE(iequals("utf8", "utf-8"));
  EXPECT_EQ(str_to_upper("ab-1"), "AB-1");
  EXPECT_TRUE(ends_with("x.utf8", "utf8"));
  EXPECT_FALSE(ends_with("8", "utf8"));
}

// Host files under a fixture root.
class HostFiles : public testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("utils_test");
    host::set_root(root_.string());
  }
  void TearDown() override {
    host::set_root("");
    host::set_kernel_release("");
    fs::remove_all(root_);
  }
  fs::path root_;
};

TEST_F(HostFiles, GetDistribution) {
  WriteFile(root_ / "etc/os-release",
            "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\nVARIANT_ID=\"server\"\n"
            "VERSION_ID=\"12\"\nVERSION_CODENAME=bookworm\n");
  DistributionInfo info;
  getDistribution(info);
  EXPECT_EQ(info.id, "debian");
  EXPECT_EQ(info.version_id, "12");

  fs::remove(root_ / "etc/os-release");
  DistributionInfo kept{"keep", "1"};
  testing::internal::CaptureStderr();
  getDistribution(kept);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(kept.id, "keep");
  EXPECT_EQ(kept.version_id, "1");
}

TEST_F(HostFiles, SecureBootEnabled) {
  const fs::path vars = root_ / "sys/firmware/efi/vars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c/data";
  const fs::path efivars =
      root_ / "sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c";
  const std::string kMissing = "<missing>";
  struct Case {
    std::string vars, efivars;
    int result;
  };
  const Case cases[] = {
      {std::string("\x01", 1), kMissing, 1},
      {std::string("\x00", 1), std::string("\x06\0\0\0\x01", 5), 0},  // first readable wins
      {kMissing, std::string("\x06\0\0\0\x01", 5), 1},
      {kMissing, std::string("\x06\0\0\0\x00", 5), 0},
      {"", std::string("\x06\0\0\0\x03", 5), 1},
      {kMissing, "", -5},
      {"", kMissing, -2},
      {kMissing, kMissing, -2},
  };
  for (const auto& c : cases) {
    fs::remove_all(root_ / "sys");
    if (c.vars != kMissing) WriteFile(vars, c.vars);
    if (c.efivars != kMissing) WriteFile(efivars, c.efivars);
    EXPECT_EQ(secure_boot_enabled(), c.result) << c.vars.size() << " " << c.efivars.size();
  }
}

TEST_F(HostFiles, KernelSourceAndDocker) {
  host::set_kernel_release("6.1.0-test");
  EXPECT_EQ(get_default_kernel_source(), "");
  fs::create_directories(root_ / "usr/src/linux-headers-6.1.0-test");
  EXPECT_EQ(get_default_kernel_source(), (root_ / "usr/src/linux-headers-6.1.0-test").string());
  fs::create_directories(root_ / "lib/modules/6.1.0-test/source");
  const std::string source = get_default_kernel_source();
  EXPECT_EQ(source, (root_ / "lib/modules/6.1.0-test/source").string());
  EXPECT_EQ(get_default_kernel_output(source), source);
  fs::create_directories(root_ / "lib/modules/6.1.0-test/build");
  EXPECT_EQ(get_default_kernel_output(source), (root_ / "lib/modules/6.1.0-test/build").string());

  EXPECT_FALSE(is_inside_docker());
  WriteFile(root_ / "proc/1/cgroup", "0::/system.slice/containerd.service\n");
  EXPECT_TRUE(is_inside_docker());
}

TEST(Utils, FindPackageRemovesDuplicateDirectories) {
  EnvGuard guard("PATH");
  const fs::path dir = MakeTempDir("find_package");
  WriteFile(dir / "stub-tool", "#!/bin/sh\n", fs::perms::owner_all);
  WriteFile(dir / "not-executable", "", fs::perms::owner_read);
  const std::string d = dir.string();
  setenv("PATH", ("/usr/bin:" + d + ":/usr/bin::" + d + ":/bin").c_str(), 1);

  EXPECT_TRUE(find_package("stub-tool"));
  EXPECT_EQ(std::string(getenv("PATH")), "/usr/bin:" + d + "::/bin:/sbin:/usr/sbin");
  EXPECT_FALSE(find_package("not-executable"));
  EXPECT_EQ(std::string(getenv("PATH")), "/usr/bin:" + d + "::/bin:/sbin:/usr/sbin");
  EXPECT_EQ(whichBinary("stub-tool"), d + "/stub-tool");

  unsetenv("PATH");
  EXPECT_TRUE(find_package("sh"));
  EXPECT_EQ(std::string(getenv("PATH")), "/bin:/usr/bin:/sbin:/usr/sbin");
  fs::remove_all(dir);
}

TEST(Utils, ProgramsAndGlobs) {
  EXPECT_TRUE(is_program_running("installer_tests"));  // this test program
  EXPECT_FALSE(is_program_running("no-such-program-here"));

  Util utils[] = {{"sh", "dash", false}, {"no-such-util", "no-package", true}};
  EXPECT_FALSE(checkUtils(utils, 2));
  EXPECT_TRUE(utils[0].found);
  EXPECT_FALSE(utils[1].found);
  EXPECT_TRUE(checkUtils(utils, 1));
  EXPECT_FALSE(checkUtils(nullptr, 0));

  const fs::path dir = MakeTempDir("glob");
  for (const char* name : {"version.txt", "b", "a", "version.json"}) WriteFile(dir / name, "");
  EXPECT_EQ(zuglob((dir / "*").string()),
            (std::vector<std::string>{(dir / "a").string(), (dir / "b").string(),
                                      (dir / "version.json").string(),
                                      (dir / "version.txt").string()}));
  EXPECT_TRUE(zuglob((dir / "none*").string()).empty());
  EXPECT_TRUE(is_cudadir_met_version(dir.string()));
  EXPECT_FALSE(is_cudadir_met_version((dir / "a").string()));
  fs::remove_all(dir);
}

TEST(Utils, GetServiceStatusInfoReadsMainPid) {
  EnvGuard guard("PATH");
  const fs::path dir = MakeTempDir("systemctl_stub");
  setenv("PATH", (dir.string() + ":" + getenv("PATH")).c_str(), 1);
  struct Case {
    std::string output;
    int exit_status;
    int pid, status, code;
  };
  const Case cases[] = {
      {"  Main PID: 4321 (code=exited, status=3/NOTIMPLEMENTED)", 0, 4321, 0, 3},
      {"  Active: active (running)\n  Main PID: 77 (quelvan-init)", 0, 0, 0, 99},
      {"Unit quelvanostrel-init@x.service could not be found.", 4, 0, 4, 99},
      {"  Main PID: 99999999999 (code=exited, status=3/NOTIMPLEMENTED)", 0, 0, 0, 3},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "systemctl",
              "#!/bin/sh\n[ \"$1 $2\" = 'status quelvanostrel-init@0.service' ] || exit 9\n"
              "echo '" + c.output + "'\nexit " + std::to_string(c.exit_status) + "\n",
              fs::perms::owner_all);
    int pid = 5, status = 5, code = 99;
    getServiceStatusInfo("quelvanostrel-init@0.service", pid, status, code);
    EXPECT_EQ(pid, c.pid) << c.output;
    EXPECT_EQ(status, c.status) << c.output;
    EXPECT_EQ(code, c.code) << c.output;
  }
  fs::remove_all(dir);
}

TEST(Utils, IsValidImageName) {
  for (const char* name :
       {"ubuntu", "ubuntu:22.04", "library/ubuntu", "quelvan/ostrel-toolkit:4.3.0",
        "registry.example.com:5000/team/app:v1.2", "localhost/a__b.c-d", "a---b", "r/x:_tag",
        "my-registry.io/a/b/c"}) {
    EXPECT_TRUE(isValidImageName(name)) << name;
  }
  const std::string long_tag = "app:" + std::string(129, 't');
  const std::string slow_if_backtracking = std::string(40, 'a') + "!";
  for (const std::string& name :
       {std::string("Ubuntu"), std::string(""), std::string("ubuntu:"), std::string("-abc"),
        std::string("app:tag with space"), std::string("app/"), std::string("/app"),
        std::string("app..b"), std::string("app_"), std::string("-reg.io/app"), long_tag,
        slow_if_backtracking}) {
    EXPECT_FALSE(isValidImageName(name)) << name;
  }
  EXPECT_TRUE(isValidImageName("app:" + std::string(128, 't')));

  testing::internal::CaptureStdout();
  isValidImageName("quelvan/app:1.0", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "regex test:1\nmatched is :3\nquelvan/app:1.0\nquelvan/app\n1.0\n");
}

// is_installpath_valid against a tmpfs of known size, mounted in a private mount namespace.
TEST(Utils, IsInstallpathValidChecksTheDeepestExistingDirectory) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  const fs::path dir = MakeTempDir("installpath");
  const fs::path mnt = dir / "mnt";
  fs::create_directories(mnt);
  // A child process keeps the namespace and the mount away from the other tests.
  pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      _exit(77);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m") != 0) _exit(77);
    if (chdir(dir.c_str()) != 0) _exit(78);
    struct Case {
      std::string size;  // content of ./.size, "" for none
      std::string path;
      bool skip;
      uint8_t code;
    };
    const Case cases[] = {
        {"4096", mnt.string() + "/a/b/c", false, CODE_SUCCESS},
        {"2000000", mnt.string() + "/a/b/c", false, CODE_NO_SPACE},  // tmpfs, not /tmp
        {"2000000", mnt.string() + "/", false, CODE_NO_SPACE},
        {"2000000", mnt.string() + "/a", true, CODE_SUCCESS},
        {"2000000", "/usr/local/ostrel", false, CODE_TOOLKIT_DIR},
        {"4096", "relative/path", false, CODE_TOOLKIT_DIR},
        {"", mnt.string() + "/a", false, CODE_SUCCESS},  // no size file: check skipped
    };
    int failures = 0;
    for (const auto& c : cases) {
      fs::remove(dir / ".size");
      if (!c.size.empty()) WriteFile(dir / ".size", c.size + "\n");
      uint8_t code = is_installpath_valid(c.path, c.skip);
      if (code != c.code) {
        fprintf(stderr, "%s size %s skip %d: %d, expected %d\n", c.path.c_str(), c.size.c_str(),
                c.skip, code, c.code);
        ++failures;
      }
    }
    _exit(failures ? 1 : 0);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  fs::remove_all(dir);
  if (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 77) GTEST_SKIP() << "no mount namespace";
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
}

TEST(Utils, Md5sumAndFiles) {
  const fs::path dir = MakeTempDir("md5");
  WriteFile(dir / "it's a file", "hello\n");
  EXPECT_EQ(md5sum((dir / "it's a file").string()), "b1946ac92492d2347c6235b4d2611184");
  EXPECT_EQ(md5sum((dir / "missing").string()), "");

  stringToFile({"one", "two"}, (dir / "new/sub/f").string());
  std::string text;
  EXPECT_TRUE(storeFile((dir / "new/sub/f").string(), text));
  EXPECT_EQ(text, "one\ntwo\n");
  EXPECT_TRUE(fileContains((dir / "new/sub/f").string(), "tw"));
  EXPECT_FALSE(fileContains((dir / "new/sub/f").string(), "one\ntwo"));
  EXPECT_TRUE(isNeedleInPayload("/proc/self/status", "Name:"));

  EXPECT_EQ(findNonExistParentDir((dir / "new/x/y").string()), (dir / "new/x").string());
  EXPECT_EQ(findNonExistParentDir((dir / "new/sub").string()), "");
  createDir((dir / "p/q/r/").string());
  EXPECT_TRUE(isDirExists((dir / "p/q/r").string()));
  fs::create_symlink("p/q", dir / "link");
  EXPECT_TRUE(isSymlink((dir / "link").string()));
  EXPECT_EQ(getRealPath((dir / "link").string()), "p/q");

  {
    EnvGuard guard("__ZU_PWD");
    setenv("__ZU_PWD", (dir / "p").string().c_str(), 1);
    EXPECT_EQ(zu_getabsolute_path("q/../q/r/new"), (dir / "p/q/r/new").string());
    EXPECT_EQ(zu_getabsolute_path("/abs/x"), "/abs/x");
  }

  std::string tmp;
  ASSERT_TRUE(createTmpFile(tmp, 0600));
  EXPECT_EQ(tmp.rfind("/tmp/quelvantmp-", 0), 0u);
  EXPECT_EQ(fs::status(tmp).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  fs::remove(tmp);
  fs::remove_all(dir);
}

}  // namespace
