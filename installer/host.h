// Host-access layer of the installer: every fixed host path (/proc, /sys, /etc, /lib/modules,
// /usr/src, /usr/share/quelvan, /var/log/quelvanostrel, EFI variables) and every kernel call goes
// through here. It is abstract so tests can redirect it: a test points the paths at a fixture
// root and replaces the kernel calls; the programs never change it and use the real host.
// External commands are not wrapped: they run through the shell and are found on PATH, so tests
// put stub programs first on PATH.
//
// Include as "installer/host.h" (the repository root is the include directory of the
// quelvan_installer library; the same holds for every installer header).
#pragma once

#include <string>

namespace host {

// Maps a fixed absolute host path under the fixture root: "/proc/modules" becomes
// ROOT + "/proc/modules". Without a root (the default) the path is returned unchanged. A path
// already under the root is returned unchanged, so mapping twice is harmless. Relative paths
// and user-supplied paths are not host paths and must not be passed here.
std::string path(const std::string& p);

// Sets the fixture root ("" restores the real host). Tests only.
void set_root(const std::string& dir);
const std::string& root();

// The running kernel's release and machine name (uname), replaceable so a test can build against
// the kernel headers that are installed rather than the kernel that runs.
std::string kernel_release();
std::string machine();
void set_kernel_release(const std::string& release);  // "" restores uname
void set_machine(const std::string& machine);         // "" restores uname

// Loads a kernel module image (the init_module system call). Returns 0 or -1 with errno set.
using InitModuleFn = int (*)(const void* image, unsigned long len, const char* params);
int init_module(const void* image, unsigned long len, const char* params);
void set_init_module(InitModuleFn fn);  // nullptr restores the system call

}  // namespace host
