// A fixture root for installer tests: a temporary directory the host layer maps every fixed
// host path into, a stub directory first on PATH holding only the stubs a test asks for, and
// the process-wide state reset. Everything is restored when it goes out of scope.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "installer/host.h"
#include "installer/logger.h"
#include "installer/process_state.h"
#include "installer/records.h"
#include "installer/uninstall.h"

#ifndef QUELVAN_STUBS_DIR
#error "QUELVAN_STUBS_DIR must point at testing/stubs"
#endif

struct FixtureRoot {
  std::string root;
  std::string old_path;
  std::string old_cwd;

  FixtureRoot() {
    char tmpl[] = "/tmp/quelvan-fixture-XXXXXX";
    root = mkdtemp(tmpl);
    old_path = getenv("PATH") ? getenv("PATH") : "";
    old_cwd = std::filesystem::current_path();
    host::set_root(root);
    setenv("QUELVAN_TEST_ROOT", root.c_str(), 1);
    setenv("STUB_LOG", (root + "/stub.log").c_str(), 1);
    reset_process_state();
    zulogger::init((root + "/install.log").c_str());
    write("/etc/os-release", "ID=debian\nVERSION_ID=\"12\"\n");
  }

  ~FixtureRoot() {
    reset_process_state();
    std::filesystem::current_path(old_cwd);
    setenv("PATH", old_path.c_str(), 1);
    unsetenv("QUELVAN_TEST_ROOT");
    unsetenv("STUB_LOG");
    host::set_root("");
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }

  // root + an absolute host path
  std::string at(const std::string& p) const { return root + p; }

  // Puts the named stubs of testing/stubs first on PATH; other tools stay the real ones.
  void stub(std::initializer_list<const char*> tools) {
    std::string bin = root + "/stubbin";
    std::filesystem::create_directories(bin);
    for (const char* t : tools)
      std::filesystem::create_symlink(std::string(QUELVAN_STUBS_DIR) + "/" + t, bin + "/" + t);
    setenv("PATH", (bin + ":" + old_path).c_str(), 1);
  }

  // Writes a file (parents created) at an absolute path, under the root when host is true.
  std::string write(const std::string& p, const std::string& content, bool host = true) const {
    std::string file = host ? at(p) : p;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file) << content;
    return file;
  }

  std::string read(const std::string& file) const {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string log() const { return read(root + "/install.log"); }
  std::string stub_log() const { return read(root + "/stub.log"); }
};

inline bool exists_nofollow(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}
