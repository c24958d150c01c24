// ostrel-driver-installer with the host-access layer redirected, for the end-to-end tests:
//   QUELVAN_TEST_ROOT     fixture root of the fixed host paths (/proc, /sys, ...)
//   QUELVAN_TEST_RELEASE  the running kernel's release
//   QUELVAN_TEST_INSMOD   errno that loading a module gives (unset or 0: it loads)
// Nothing is loaded into the running kernel.
#include <cerrno>
#include <cstdlib>

#include "installer/driver/driver_entry.h"
#include "installer/host.h"

namespace {

int insmod_errno = 0;

int fake_init_module(const void*, unsigned long, const char*) {
  if (insmod_errno == 0) return 0;
  errno = insmod_errno;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* root = getenv("QUELVAN_TEST_ROOT")) host::set_root(root);
  if (const char* release = getenv("QUELVAN_TEST_RELEASE")) host::set_kernel_release(release);
  if (const char* e = getenv("QUELVAN_TEST_INSMOD")) insmod_errno = atoi(e);
  host::set_init_module(fake_init_module);
  return driver_installer_main(argc, argv);
}
