#include "installer/utils.h"

#include <fcntl.h>
#include <glob.h>
#include <langinfo.h>
#include <libgen.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
// GCC 12 reports a false maybe-uninitialized inside <regex> when built with sanitizers; clang
// has no such warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <set>
#include <sstream>

#include "installer/codes.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "report/atomic_file.h"

namespace {

constexpr const char* kSecureBootVars[] = {
    "/sys/firmware/efi/vars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c/data",
    "/sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c",
};
constexpr const char* kTmpPattern = "/tmp/quelvantmp-XXXXXX";
constexpr const char* kDefaultSearchDirs = "/bin:/usr/bin:/sbin:/usr/sbin";

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

std::string parent_dir(const std::string& path) {
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  return dirname(buf.data());
}

}  // namespace

// ---- Running commands ------------------------------------------------------------------------

bool exec(const std::string& cmd, std::string& out, int& status, bool merge) {
  out.clear();
  const std::string line = merge ? cmd + " 2>&1" : cmd;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) {
    status = -1;
    return false;
  }
  char buf[1024];
  for (;;) {
    size_t n = fread(buf, 1, sizeof buf, pipe);
    out.append(buf, n);
    if (n < sizeof buf) break;
  }
  int rc = pclose(pipe);
  status = rc == -1 ? -1 : WEXITSTATUS(rc);
  return rc == 0;
}

bool exec(const std::string& cmd, std::string& out, int& status) {
  return exec(cmd, out, status, true);
}

bool exec(const std::string& cmd, std::string& out) {
  int status = 0;
  return exec(cmd, out, status, true);
}

std::string shell_quote(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

bool isToolInstalled(const std::string& name) {
  return system(("which " + shell_quote(name) + " > /dev/null 2>&1").c_str()) == 0;
}

bool istoolServiceRunning(const std::string& name) {
  const std::string cmd = "ps aux | grep -v grep | grep " + shell_quote(name) + " > /dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

bool try_kill(pid_t pid) { return kill(pid, SIGTERM) == 0; }

bool try_kill(pid_t pid, std::string& error) {
  if (kill(pid, SIGTERM) == 0) {
    error.clear();
    return true;
  }
  error = strerror(errno);
  return false;
}

bool is_program_running(const std::string& name) {
  std::string out;
  int status = 0;
  exec("pgrep " + shell_quote(name.substr(0, 15)), out, status, false);
  if (status != 0) {
    // pgrep exits 1 when nothing matches; anything else means it could not run.
    if (status != 1) zulogger::logger(INFO, "seeking processing running %s failed\n", name.c_str());
    return false;
  }
  for (const std::string& pid : split(out, '\n')) {
    std::string cmdline;
    if (pid.empty() || !storeFile(host::path("/proc/" + pid + "/cmdline"), cmdline)) continue;
    const std::string program = cmdline.substr(0, cmdline.find('\0'));
    if (zu_basename(program) == name) {
      zulogger::logger(INFO, "Found running %s: pid:%s\n", name.c_str(), pid.c_str());
      return true;
    }
  }
  return false;
}

// ---- Files and paths -------------------------------------------------------------------------

bool isFileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool isFileExecutes(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

bool isDirExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isSymlink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void createDir(const std::string& path) {
  std::string p = path.substr(0, 255);
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  for (size_t i = 1; i < p.size(); ++i) {
    if (p[i] != '/') continue;
    mkdir(p.substr(0, i).c_str(), 0755);
  }
  if (!p.empty()) mkdir(p.c_str(), 0755);
}

bool createTmpFile(std::string& out, mode_t mode) {
  std::string name = kTmpPattern;
  int fd = mkstemp(name.data());
  if (fd < 0) {
    zulogger::logger(INFO, "get temp file failed.\n %s", strerror(errno));
    return false;
  }
  if (fchmod(fd, mode) != 0) {
    zulogger::logger(INFO, "set permissions %04o on file %s failed %s\n", mode, name.c_str(),
                     strerror(errno));
    close(fd);
    return false;
  }
  close(fd);
  out = name;
  return true;
}

std::string getCurrentExeDirectory() {
  // The running program itself, not a host file: never redirected.
  char buf[1024];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n < 0) {
    zulogger::logger(FATAL, "Failed to get exe path.\n");
    return "";
  }
  return parent_dir(std::string(buf, n));
}

std::string zu_basename(const std::string& path) {
  if (path.empty() || path.back() == '/') return "";
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string zu_getabsolute_path(const std::string& path) {
  if (path.empty()) return "";
  const char* pwd = getenv("__ZU_PWD");
  if (path[0] == '/' || !pwd) return path;
  const std::filesystem::path joined = std::filesystem::path(pwd) / path;
  std::error_code ec;
  std::filesystem::path normal = std::filesystem::weakly_canonical(joined, ec);
  return ec ? joined.string() : normal.string();
}

std::string findNonExistParentDir(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return "";
    abs = std::string(cwd) + "/" + abs;
  }
  std::string prefix;
  for (const std::string& part : split(abs, '/')) {
    if (part.empty()) continue;
    prefix += "/" + part;
    if (!isFileExists(prefix)) return prefix;
  }
  return "";
}

std::string getRealPath(const std::string& path) {
  char buf[4096];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  return n < 0 ? "" : std::string(buf, n);
}

std::string getRealPathString(const std::string& s) {
  size_t end = s.find_last_not_of("/ \n\t\r\f\v");
  return end == std::string::npos ? "" : s.substr(0, end + 1);
}

std::vector<std::string> zuglob(const std::string& pattern) {
  std::vector<std::string> matches;
  glob_t g;
  memset(&g, 0, sizeof g);
  int rc = glob(pattern.c_str(), GLOB_TILDE, nullptr, &g);
  if (rc == 0) {
    for (size_t i = 0; i < g.gl_pathc; ++i) matches.push_back(g.gl_pathv[i]);
  } else if (rc == GLOB_NOMATCH) {
    zulogger::logger(INFO, "glob for %s matchs nothing.\n", pattern.c_str());
  } else if (rc == GLOB_ABORTED) {
    zulogger::logger(WARNING, "glob for %s read error\n", pattern.c_str());
  } else if (rc == GLOB_NOSPACE) {
    zulogger::logger(WARNING, "glob for %s oom\n", pattern.c_str());
  } else {
    zulogger::logger(WARNING, "glob() failed with return_value %d", rc);
  }
  globfree(&g);
  return matches;
}

bool is_cudadir_met_version(const std::string& dir) { return !zuglob(dir + "/version.*").empty(); }

std::string whichBinary(const std::string& name) {
  const char* path = getenv("PATH");
  if (!path) return "";
  for (const std::string& dir : split(path, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (isFileExists(candidate)) return candidate;
  }
  return "";
}

bool find_package(const std::string& name) {
  const char* current = getenv("PATH");
  std::vector<std::string> dirs =
      split(current ? std::string(current) + ":" + kDefaultSearchDirs : kDefaultSearchDirs, ':');
  remove_duplicated(dirs);
  setenv("PATH", join(dirs, ':').c_str(), 1);
  for (const std::string& dir : dirs) {
    if (!dir.empty() && isDirExists(dir) && isFileExecutes(dir + "/" + name)) return true;
  }
  return false;
}

bool checkUtils(Util* utils, size_t count) {
  if (!utils) return false;
  bool all = true;
  for (size_t i = 0; i < count; ++i) {
    Util& u = utils[i];
    u.found = find_package(u.name);
    if (u.found) {
      zulogger::logger(INFO, "found system utility '%s'\n", u.name);
    } else {
      zulogger::logger(ERROR,
                       "Unable to find the system utility '%s'; please make sure you have the "
                       "package '%s' installed.  If you do have '%s' installed, then please check "
                       "that '%s' is in your PATH.\n",
                       u.name, u.package, u.package, u.name);
      all = false;
    }
  }
  return all;
}

uint64_t available_space(const std::string& path) {
  struct statvfs vfs;
  if (statvfs(path.c_str(), &vfs) != 0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

// ---- Reading and writing text ----------------------------------------------------------------

bool cachedFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    zulogger::logger(FATAL, "Failed to open %s\n", path.c_str());
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

bool storeFile(const std::string& path, std::string& out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    zulogger::logger(FATAL, "Failed to open %s\n", path.c_str());
    return false;
  }
  out.clear();
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool ok = !ferror(f);
  fclose(f);
  if (!ok) zulogger::logger(FATAL, "Error reading file %s\n", path.c_str());
  return ok;
}

bool stringToFile(const std::vector<std::string>& lines, const std::string& path) {
  const std::string dir = parent_dir(path);
  if (!isDirExists(dir)) createDir(dir);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  // Truncating path in place would lose the old content on a full disk.
  std::string error;
  if (report::writeFileAtomically(path, text, &error)) return true;
  zulogger::logger(ERROR, "%s\n", error.c_str());
  return false;
}

namespace {
bool any_line_contains(const std::string& text, const std::string& needle) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.find(needle) != std::string::npos) return true;
  return false;
}
}  // namespace

bool fileContains(const std::string& path, const std::string& needle) {
  std::string text;
  return storeFile(path, text) && any_line_contains(text, needle);
}

bool isNeedleInPayload(const std::string& path, const std::string& needle) {
  std::string text;
  bool ok = starts_with(path, "/proc") ? storeFile(path, text) : cachedFile(path, text);
  return ok && any_line_contains(text, needle);
}

std::string cachedSelector() {
  char buf[1024];
  ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  return n > 0 ? std::string(buf, n) : "";
}

std::string md5sum(const std::string& path) {
  if (!isFileExists(path)) return "";
  std::string out;
  int status = 0;
  if (!exec("md5sum " + shell_quote(path) + " 2>&1", out, status, false)) {
    zulogger::logger(WARNING, "MD5 for %s failed: %d ctx: %s\n", path.c_str(), status, out.c_str());
    return "";
  }
  size_t blank = out.find(' ');
  if (blank == std::string::npos) {
    zulogger::logger(WARNING, "md5sum for %s: %s\n", path.c_str(), out.c_str());
    return "";
  }
  return out.substr(0, blank);
}

// ---- Strings ---------------------------------------------------------------------------------

std::vector<std::string> split(const std::string& s, char ch) {
  std::vector<std::string> pieces;
  std::istringstream in(s);
  std::string piece;
  while (std::getline(in, piece, ch)) pieces.push_back(piece);
  return pieces;
}

std::string join(const std::vector<std::string>& list, char ch) {
  std::string out;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0 && ch != '\0') out += ch;
    out += list[i];
  }
  return out;
}

void trim(std::string& s) {
  size_t begin = 0;
  while (begin < s.size() && isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  size_t end = s.size();
  while (end > begin && isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  s = s.substr(begin, end - begin);
}

char* trim_space(char* s, char mode) {
  if (!s) return s;
  if (mode == 'l' || mode == 'a') {
    char* p = s;
    while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
    memmove(s, p, strlen(p) + 1);
  }
  if (mode == 't' || mode == 'a') {
    size_t len = strnlen(s, 128);
    while (len > 0 && isspace(static_cast<unsigned char>(s[len - 1]))) s[--len] = '\0';
  }
  return s;
}

bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool validString(const std::string& s, const std::vector<std::string>& list) {
  for (const std::string& item : list)
    if (starts_with(item, s)) return true;
  return false;
}

char asciitolower(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

bool iequals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (asciitolower(a[i]) != asciitolower(b[i])) return false;
  return true;
}

std::string str_to_upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
  return s;
}

void remove_duplicated(std::vector<std::string>& list) {
  std::set<std::string> seen;
  std::vector<std::string> kept;
  for (std::string& item : list)
    if (seen.insert(item).second) kept.push_back(std::move(item));
  list = std::move(kept);
}

std::string getArch() { return "x86_64"; }

bool isValidImageName(const std::string& name, bool verbose) {
  // Registry host[:port]/, then path components of lower-case letters and digits joined by
  // ".", "_", "__" or a run of "-", then an optional ":tag". Each separator must be followed by
  // letters or digits, which keeps the match linear on long invalid names.
  static const std::regex pattern(
      "^((?:(?:[a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9-]*[a-zA-Z0-9])"
      "(?:(?:\\.(?:[a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9-]*[a-zA-Z0-9]))+)?(?::[0-9]+)?\\/)?"
      "[a-z0-9]+(?:(?:[._]|__|-+)[a-z0-9]+)*"
      "(?:\\/[a-z0-9]+(?:(?:[._]|__|-+)[a-z0-9]+)*)*)"
      "(?::([a-zA-Z0-9_][a-zA-Z0-9_.-]{0,127}))?$");
  std::smatch m;
  bool matched = std::regex_match(name, m, pattern);
  if (verbose) {
    printf("regex test:%d\n", matched ? 1 : 0);
    printf("matched is :%lu\n", static_cast<unsigned long>(m.size()));
    for (const auto& group : m) printf("%s\n", group.str().c_str());
  }
  return matched;
}

// ---- Environment and system ------------------------------------------------------------------

void set_umask() { umask(022); }

bool zu_setlocale() {
  std::string out;
  if (!exec("locale -a", out)) return false;
  for (const std::string& name : split(out, '\n')) {
    if (!ends_with(name, "UTF-8") && !ends_with(name, "utf-8") && !ends_with(name, "utf8")) continue;
    if (!setlocale(LC_CTYPE, name.c_str())) continue;
    if (strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
      zulogger::logger(INFO, "Set character type %s.\n", name.c_str());
      return true;
    }
  }
  return false;
}

bool is_inside_docker() {
  auto contains = [](const char* file, const char* needle) {
    const std::string path = host::path(file);
    return isFileExists(path) && fileContains(path, needle);
  };
  return contains("/proc/self/cgroup", "docker") || contains("/proc/1/cgroup", "docker") ||
         contains("/proc/1/cgroup", "containerd") || isFileExists(host::path("/.dockerenv"));
}

int secure_boot_enabled() {
  int result = -ENOENT;
  for (const char* var : kSecureBootVars) {
    FILE* f = fopen(host::path(var).c_str(), "rb");
    if (!f) {
      result = -errno;
      continue;
    }
    int c, last = EOF;
    while ((c = fgetc(f)) != EOF) last = c;
    if (ferror(f))
      result = -(errno ? errno : EIO);
    else if (last == EOF)
      result = -5;
    else
      result = last & 1;
    fclose(f);
    if (result >= 0) return result;
  }
  return result;
}

void getDistribution(DistributionInfo& info) {
  std::string text;
  if (!cachedFile(host::path("/etc/os-release"), text)) return;
  auto unquoted = [](std::string v) {
    v.erase(std::remove(v.begin(), v.end(), '"'), v.end());
    return v;
  };
  for (const std::string& line : split(text, '\n')) {
    if (starts_with(line, "VERSION_ID="))
      info.version_id = unquoted(line.substr(11));
    else if (starts_with(line, "ID="))
      info.id = unquoted(line.substr(3));
  }
}

std::string get_default_kernel_source() {
  const std::string r = host::kernel_release();
  for (const std::string& dir : {"/lib/modules/" + r + "/source", "/lib/modules/" + r + "/build",
                                 "/usr/src/kernels/" + r, "/usr/src/linux-headers-" + r,
                                 std::string("/usr/src/linux")}) {
    if (isDirExists(host::path(dir))) return host::path(dir);
  }
  zulogger::logger(WARNING, "Get kernel source of running kernel:%s failed.\n", r.c_str());
  return "";
}

std::string get_default_kernel_output(const std::string& source) {
  const std::string r = host::kernel_release();
  const std::string build = host::path("/lib/modules/" + r + "/build");
  if (source == host::path("/lib/modules/" + r + "/source") && isDirExists(build)) return build;
  return source;
}

bool get_ofed_source_path(std::string& out) {
  const std::string m = host::machine(), r = host::kernel_release();
  for (const std::string& dir :
       {"/usr/src/ofa_kernel/" + m + "/" + r, "/usr/src/ofa_kernel/" + r,
        std::string("/usr/src/ofa_kernel/default"), std::string("/var/lib/dkms/mlnx-ofed-kernel")}) {
    if (isDirExists(host::path(dir))) {
      out = host::path(dir);
      return true;
    }
  }
  zulogger::logger(ERROR, "Cannot find OFED source path.\n");
  return false;
}

// ---- Disk space and services -----------------------------------------------------------------

long get_required_space(std::string& message) {
  char cwd[4096];
  const std::string path = std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/.size";
  if (!isFileExists(path)) {
    message = path + " size file not exist.";
    return -1;
  }
  std::string text;
  std::ifstream in(path);
  if (!in || !std::getline(in, text)) {
    message = path + " read size file failed.";
    return -1;
  }
  return strtol(text.c_str(), nullptr, 10);
}

int is_space_fit(const std::string& dir) {
  std::string message;
  long required = get_required_space(message);
  if (required == -1) {
    zulogger::logger(WARNING, "get required space failed: %s", message.c_str());
    return -1;
  }
  uint64_t available = available_space(dir);
  if (available == std::numeric_limits<uint64_t>::max()) {
    zulogger::logger(WARNING, "check available space failed");
    return -1;
  }
  if (required < 0 || static_cast<uint64_t>(required) < available) {
    zulogger::logger(INFO, "space enough to install toolkit. Required:%ld KB, available:%ld kB\n",
                     required / 1024, static_cast<long>(available / 1024));
    return 0;
  }
  zulogger::logger(ERROR, "space not enough to install toolkit. Required:%ld KB, available:%ld KB\n",
                   required / 1024, static_cast<long>(available / 1024));
  return 1;
}

uint8_t is_installpath_valid(const std::string& path, bool skipSpaceCheck) {
  if (path == "/usr/local/ostrel") {
    zulogger::logger(ERROR, "Cannot install toolkit in /usr/local/ostrel.\n%s\n",
                     code_banner(CODE_TOOLKIT_DIR).c_str());
    return CODE_TOOLKIT_DIR;
  }
  if (path.empty() || path[0] != '/') {
    zulogger::logger(ERROR, "Toolkit location must be an absolute path.\n%s\n",
                     code_banner(CODE_TOOLKIT_DIR).c_str());
    return CODE_TOOLKIT_DIR;
  }
  std::string p = path;
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  const std::string missing = findNonExistParentDir(p);
  const std::string dir = missing.empty() ? p : parent_dir(missing);
  if (skipSpaceCheck) {
    zulogger::logger(INFO, "skip space check.\n");
    return CODE_SUCCESS;
  }
  switch (is_space_fit(dir)) {
    case 0:
      zulogger::logger(INFO, "space check passed.\n");
      return CODE_SUCCESS;
    case 1:
      zulogger::logger(ERROR, "space check failed.\n");
      return CODE_NO_SPACE;
    default:
      zulogger::logger(INFO, "skip space check.\n");
      return CODE_SUCCESS;
  }
}

void getServiceStatusInfo(const std::string& unit, int& pid, int& status, int& code) {
  pid = -1;
  std::string out;
  exec("systemctl status " + shell_quote(unit), out, status);
  pid = 0;
  if (status != 0) {
    zulogger::logger(ERROR, "systemctl status %s failed, status:%d, output:%s\n", unit.c_str(), status,
                     out.c_str());
    return;
  }
  main_pid_from_status(out, pid, code);
}

namespace {

// Matches "Main PID: N (code=WORD, status=M/WORD)" at text[at]; N and M are decimal, WORD letters
// and digits. Gives the positions of N and M.
bool main_pid_at(const std::string& text, size_t at, size_t& pid, size_t& pid_end, size_t& status,
                 size_t& status_end) {
  size_t i = at;
  const auto literal = [&](const char* word) {
    const size_t n = strlen(word);
    if (text.compare(i, n, word) != 0) return false;
    i += n;
    return true;
  };
  const auto run = [&](bool letters) {
    const size_t start = i;
    while (i < text.size()) {
      const char c = text[i];
      const bool digit = c >= '0' && c <= '9';
      if (!(digit || (letters && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))))) break;
      ++i;
    }
    return i > start;
  };
  if (!literal("Main PID: ")) return false;
  pid = i;
  if (!run(false)) return false;
  pid_end = i;
  if (!literal(" (code=") || !run(true) || !literal(", status=")) return false;
  status = i;
  if (!run(false)) return false;
  status_end = i;
  return literal("/") && run(true) && literal(")");
}

}  // namespace

bool main_pid_from_status(const std::string& text, int& pid, int& code) {
  // By hand rather than with std::regex, whose recursion per character overflows the stack on a
  // long run of digits (service output can put anything into the status text).
  for (size_t at = text.find("Main PID: "); at != std::string::npos;
       at = text.find("Main PID: ", at + 1)) {
    size_t p = 0, p_end = 0, s = 0, s_end = 0;
    if (!main_pid_at(text, at, p, p_end, s, s_end)) continue;
    // from_chars leaves a number too large for an int unset instead of throwing.
    std::from_chars(text.data() + p, text.data() + p_end, pid);
    std::from_chars(text.data() + s, text.data() + s_end, code);
    return true;
  }
  return false;
}
