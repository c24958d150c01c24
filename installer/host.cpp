#include "installer/host.h"

#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace host {
namespace {

std::string g_root;
std::string g_release;
std::string g_machine;
InitModuleFn g_init_module = nullptr;

int real_init_module(const void* image, unsigned long len, const char* params) {
  return static_cast<int>(syscall(SYS_init_module, image, len, params));
}

}  // namespace

std::string path(const std::string& p) {
  if (g_root.empty() || p.empty() || p[0] != '/') return p;
  if (p.compare(0, g_root.size(), g_root) == 0 &&
      (p.size() == g_root.size() || p[g_root.size()] == '/'))
    return p;
  return g_root + p;
}

void set_root(const std::string& dir) {
  g_root = dir;
  while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
  if (g_root == "/") g_root.clear();
}

const std::string& root() { return g_root; }

std::string kernel_release() {
  if (!g_release.empty()) return g_release;
  struct utsname u;
  return uname(&u) == 0 ? u.release : "";
}

std::string machine() {
  if (!g_machine.empty()) return g_machine;
  struct utsname u;
  return uname(&u) == 0 ? u.machine : "";
}

void set_kernel_release(const std::string& release) { g_release = release; }
void set_machine(const std::string& m) { g_machine = m; }

int init_module(const void* image, unsigned long len, const char* params) {
  return (g_init_module ? g_init_module : real_init_module)(image, len, params);
}

void set_init_module(InitModuleFn fn) { g_init_module = fn; }

}  // namespace host
