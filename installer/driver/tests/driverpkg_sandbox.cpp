#include "driverpkg_sandbox.h"

#include <glob.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "installer/host.h"
#include "installer/logger.h"
#include "installer/utils.h"

namespace driverpkg {

int insmod_errno = 0;

namespace {

const char* const marker = "QUELVAN_DRIVERPKG_SANDBOX";
const std::string pkg_src = QUELVAN_DRIVERPKG_DIR;
const std::string stubs_dir = QUELVAN_STUBS_DIR;

std::string self_exe() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, n) : "";
}

int fake_init_module(const void*, unsigned long, const char*) {
  if (insmod_errno == 0) return 0;
  errno = insmod_errno;
  return -1;
}

}  // namespace

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int sh(const std::string& cmd, std::string* out) {
  std::string o;
  int status = -1;
  exec(cmd, o, status);
  if (out) *out = o;
  return status;
}

std::string headers_release() {
  glob_t g{};
  std::string release;
  if (glob("/lib/modules/*/build/include/generated/utsrelease.h", 0, nullptr, &g) == 0 && g.gl_pathc > 0) {
    std::string p = g.gl_pathv[0];
    p.erase(0, std::string("/lib/modules/").size());
    release = p.substr(0, p.find('/'));
  }
  globfree(&g);
  return release;
}

std::string missing_prerequisite() {
  if (geteuid() != 0) return "needs root for mount namespaces";
  if (system("unshare -m --propagation private true > /dev/null 2>&1") != 0)
    return "unshare -m is not available here";
  if (headers_release().empty()) return "no kernel headers under /lib/modules/*/build";
  for (const char* tool : {"make", "gcc", "dkms", "openssl", "depmod", "modinfo"})
    if (whichBinary(tool).empty()) return std::string(tool) + " is not installed";
  return "";
}

bool inside() { return getenv(marker) != nullptr; }

int rerun_current_test() {
  const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
  const std::string exe = self_exe();
  const std::string dir = exe.substr(0, exe.rfind('/'));
  const std::string filter = std::string(t->test_suite_name()) + "." + t->name();
  const std::string cmd = "unshare -m --propagation private " + shell_quote(pkg_src + "/sandbox.sh") +
                          " -o " + shell_quote(dir) + " env " + marker + "=1 " + shell_quote(exe) +
                          " --gtest_filter=" + shell_quote(filter);
  int status = system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Package::Package() {
  const std::string exe = self_exe();
  dir = exe.substr(0, exe.rfind('/'));
  root = "/tmp/root";
  release = headers_release();
  // The package beside the binary (the overlay keeps the build directory clean).
  EXPECT_EQ(sh("cp -a " + shell_quote(pkg_src) + "/. " + shell_quote(dir) + " && rm -rf " +
               shell_quote(dir + "/sandbox.sh")),
            0);
  EXPECT_EQ(chdir(dir.c_str()), 0);
  EXPECT_EQ(sh("mkdir -p " + root + "/proc/self " + root + "/proc/1 " + root + "/sys/bus/pci/devices && "
               "for d in etc lib usr var; do ln -s /$d " + root + "/$d; done && "
               ": > " + root + "/proc/modules && : > " + root + "/proc/kallsyms && "
               "echo quiet > " + root + "/proc/cmdline && : > " + root + "/proc/self/cgroup && "
               ": > " + root + "/proc/1/cgroup && : > /tmp/answers && : > /tmp/stub.log && "
               // The removal of a previous driver runs depmod for the running kernel.
               "mkdir -p /lib/modules/$(uname -r)"),
            0);
  host::set_root(root);
  host::set_kernel_release(release);
  host::set_init_module(fake_init_module);
  insmod_errno = 0;
  // Only what cannot run here is stubbed; make, dkms, depmod and openssl stay the real ones.
  EXPECT_EQ(sh("mkdir -p /tmp/stubbin && for t in modprobe rmmod systemctl; do ln -sf " +
               shell_quote(stubs_dir) + "/$t /tmp/stubbin/$t; done"),
            0);
  setenv("PATH", ("/tmp/stubbin:" + std::string(getenv("PATH"))).c_str(), 1);
  setenv("KVER", release.c_str(), 1);
  setenv("STUB_LOG", "/tmp/stub.log", 1);
  setenv("STUB_MODULES", (root + "/proc/modules").c_str(), 1);
  setenv("STUB_UNITS", "/tmp/units", 1);
  setenv("OSTREL_CONFTEST_ANSWERS", "/tmp/answers", 1);
  zulogger::init("/tmp/engine.log");
}

void Package::answer(const std::string& line) {
  std::ofstream("/tmp/answers", std::ios::app) << line << "\n";
}

void Package::write(const std::string& path, const std::string& text) {
  std::ofstream(root + path) << text;
}

std::string Package::log() const { return read(host::path("/tmp/engine.log")); }
std::string Package::calls() const { return read("/tmp/stub.log"); }

}  // namespace driverpkg
