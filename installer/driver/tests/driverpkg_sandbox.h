// Runs tests against the real test driver package (testing/driverpkg) with the real make, gcc,
// dkms, openssl and sign-file, in a private mount namespace where the system directories that
// an installation writes are disposable overlays (testing/driverpkg/sandbox.sh). Only the
// kernel interfaces (/proc, /sys through the host-access layer's fixture root), loading into
// the running kernel, and systemd are replaced.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace driverpkg {

// Why the sandboxed tests cannot run on this machine; "" when they can.
std::string missing_prerequisite();
// True in the re-run of a test inside the sandbox.
bool inside();
// Runs the current test again inside the sandbox; returns its exit status.
int rerun_current_test();

// The release whose kernel headers are installed (the tests' target and "running" kernel).
std::string headers_release();

// The staged package inside the sandbox: the package lies in the test binary's (overlaid)
// directory, which is also the working directory; the fixture root holds proc/ and sys/ and
// links etc, lib, usr and var to the real (overlaid) ones.
struct Package {
  std::string dir;
  std::string root;
  std::string release;

  Package();  // stages everything and points the host-access layer at it
  void answer(const std::string& line);  // a conftest answer: "TEST [OPERAND] = STATUS [OUTPUT]"
  void write(const std::string& path, const std::string& text);  // below the fixture root
  std::string log() const;   // the engine's log so far
  std::string calls() const; // the stub programs' calls so far
};

// The errno that the fake init_module gives (0: the load succeeds).
extern int insmod_errno;

// The whole content of a file, "" when it cannot be read.
std::string read(const std::string& path);
// Runs a shell command, returns its exit status; out receives the output.
int sh(const std::string& cmd, std::string* out = nullptr);

}  // namespace driverpkg

// Skips without the prerequisites; outside the sandbox re-runs the test inside it and returns.
#define DRIVERPKG_SANDBOXED()                                                  \
  do {                                                                         \
    if (!driverpkg::inside()) {                                                \
      const std::string why = driverpkg::missing_prerequisite();               \
      if (!why.empty()) GTEST_SKIP() << why;                                   \
      ASSERT_EQ(driverpkg::rerun_current_test(), 0) << "sandboxed run failed"; \
      return;                                                                  \
    }                                                                          \
  } while (0)
