// System utilities of the installer: shell commands, files and paths, text, strings, the
// environment, disk space and service status. Free functions; failures are return values
// (false, empty string, result code) and messages go through zulogger. The fixed host paths
// used inside these functions go through host::path; a path passed in by the caller is used as
// given (callers map their own fixed host paths with host::path). External commands are found
// on PATH.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// ---- Running commands ------------------------------------------------------------------------

// Runs cmd through the shell (popen); merge appends " 2>&1". out receives the whole output
// (read in 1024-byte chunks), status the exit status (-1 when the shell could not start).
// True when the command exited with 0.
bool exec(const std::string& cmd, std::string& out, int& status, bool merge);
bool exec(const std::string& cmd, std::string& out, int& status);  // merge = true
bool exec(const std::string& cmd, std::string& out);               // merge = true

// Quotes s for a POSIX shell ('...' with embedded quotes escaped). Every path or other value
// inserted into a command line goes through this.
std::string shell_quote(const std::string& s);

bool isToolInstalled(const std::string& name);       // "which NAME" exits 0
bool istoolServiceRunning(const std::string& name);  // "ps aux | grep -v grep | grep NAME"
bool try_kill(pid_t pid);                            // SIGTERM
bool try_kill(pid_t pid, std::string& error);        // error: system text, empty on success
bool is_program_running(const std::string& name);    // pgrep + /proc/<pid>/cmdline

// ---- Files and paths -------------------------------------------------------------------------

bool isFileExists(const std::string& path);
bool isFileExecutes(const std::string& path);
bool isDirExists(const std::string& path);  // stat follows links
bool isSymlink(const std::string& path);    // lstat
void createDir(const std::string& path);    // mkdir -p with 0755, errors ignored
bool createTmpFile(std::string& out, mode_t mode);  // "/tmp/quelvantmp-XXXXXX"
std::string getCurrentExeDirectory();               // directory of /proc/self/exe, "" on failure
std::string zu_basename(const std::string& path);   // "" for "" and for a trailing "/"
std::string zu_getabsolute_path(const std::string& path);    // relative to $__ZU_PWD
std::string findNonExistParentDir(const std::string& path);  // first missing prefix, "" if none
std::string getRealPath(const std::string& path);            // target of a symbolic link
std::string getRealPathString(const std::string& s);         // trailing "/" and blanks removed
std::vector<std::string> zuglob(const std::string& pattern);
bool is_cudadir_met_version(const std::string& dir);         // dir/version.* exists
std::string whichBinary(const std::string& name);            // first match on PATH
bool find_package(const std::string& name);  // extends PATH with the default directories

// A system program to look for, and whether checkUtils found it.
struct Util {
  const char* name;
  const char* package;
  bool found;
};
bool checkUtils(Util* utils, size_t count);

uint64_t available_space(const std::string& path);  // UINT64_MAX when unknown

// ---- Reading and writing text ----------------------------------------------------------------

bool cachedFile(const std::string& path, std::string& out);
bool storeFile(const std::string& path, std::string& out);
// Writes the lines, each ended by "\n", to a temporary file beside path, flushes it to disk and
// renames it over path: a failure (logged) leaves the old file as it was. False on failure.
bool stringToFile(const std::vector<std::string>& lines, const std::string& path);
bool fileContains(const std::string& path, const std::string& needle);
bool isNeedleInPayload(const std::string& path, const std::string& needle);
std::string cachedSelector();                  // up to 1024 bytes of standard input
std::string md5sum(const std::string& path);   // the digest, "" on failure

// ---- Strings ---------------------------------------------------------------------------------

std::vector<std::string> split(const std::string& s, char ch);
std::string join(const std::vector<std::string>& list, char ch);
void trim(std::string& s);
char* trim_space(char* s, char mode);  // mode 'l', 't' or 'a'
bool ends_with(const std::string& s, const std::string& suffix);
bool validString(const std::string& s, const std::vector<std::string>& list);
char asciitolower(char c);
bool iequals(const std::string& a, const std::string& b);
std::string str_to_upper(std::string s);
void remove_duplicated(std::vector<std::string>& list);
std::string getArch();
bool isValidImageName(const std::string& name, bool verbose = false);

// ---- Environment and system ------------------------------------------------------------------

struct DistributionInfo {
  std::string id;
  std::string version_id;
};

void set_umask();
bool zu_setlocale();
bool is_inside_docker();
int secure_boot_enabled();  // 1 enabled, 0 disabled, negative when unknown
void getDistribution(DistributionInfo& info);
std::string get_default_kernel_source();
std::string get_default_kernel_output(const std::string& source);
bool get_ofed_source_path(std::string& out);

// ---- Disk space and services -----------------------------------------------------------------

long get_required_space(std::string& message);  // from ./.size, -1 with message on failure
int is_space_fit(const std::string& dir);       // 0 fits, 1 does not, -1 unknown
uint8_t is_installpath_valid(const std::string& path, bool skipSpaceCheck);
void getServiceStatusInfo(const std::string& unit, int& pid, int& status, int& code);
// The main process id and its status from the text of "systemctl status"; false (both left
// unchanged) when the text holds no "Main PID:" line of that form.
bool main_pid_from_status(const std::string& text, int& pid, int& code);
