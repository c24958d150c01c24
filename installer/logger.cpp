#include "installer/logger.h"

#include <dirent.h>
#include <libgen.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "installer/codes.h"
#include "installer/host.h"
#include "installer/utils.h"

FILE* zulogger::fp_ = nullptr;
bool zulogger::silent_ = false;
std::mutex zulogger::mtx;
const char* const zulogger::log_prefix[5] = {"[RECORD]: ", "[INFO]: ", "[WARNING]: ", "[ERROR]: ",
                                             "[FATAL]: "};

namespace {

// A log larger than this is rotated when the logger starts.
constexpr long kMaxLogSize = 20480;
// The uninstall records live in this sub-directory of the log directory; they must survive
// the day-change clearing or the next installation could not remove this one.
constexpr const char* kKeptEntry = "uninstall";

std::string local_time(const char* format) {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char buf[64];
  strftime(buf, sizeof buf, format, &tm);
  return buf;
}

int local_day() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return tm.tm_mday;
}

}  // namespace

void zulogger::logger(LogLevel level, const char* fmt, ...) {
  const std::string stamp = GetTimeSec();
  std::lock_guard<std::mutex> lock(mtx);
  va_list args;
  if (!silent_ && level == RECORD) {
    va_start(args, fmt);
    vfprintf(stdout, fmt, args);
    va_end(args);
    fflush(stdout);
  } else if (level == FATAL) {
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
  }
  if (!fp_) return;
  char* message = nullptr;
  va_start(args, fmt);
  int n = vasprintf(&message, fmt, args);
  va_end(args);
  if (n < 0) return;
  fprintf(fp_, "%s%s%s", stamp.c_str(), log_prefix[level], message);
  fflush(fp_);
  free(message);
}

void zulogger::code_error_message(uint8_t code) {
  const std::string stamp = GetTimeSec();
  const std::string message = code_message(code);
  std::lock_guard<std::mutex> lock(mtx);
  fprintf(stderr, "Error code: %d  message: %s\n", code, message.c_str());
  if (fp_) {
    fprintf(fp_, "%s%sError code: %d  message: %s\n", stamp.c_str(), log_prefix[FATAL], code,
            message.c_str());
    fflush(fp_);
  }
}

void zulogger::init(const char* path) {
  const std::string file = host::path(path);
  std::string dir = file;  // dirname edits its argument
  const std::string parent = dirname(dir.data());
  if (!isDirExists(parent)) createDir(parent);
  // "a+" keeps what an earlier run wrote, so the day marker and the size of a real log are
  // there for clearLogFile; reading starts at the beginning, writes go to the end.
  fp_ = fopen(file.c_str(), "a+");
  if (!fp_) {
    fputs("Failed to init zulogger.\n\n", stderr);
    exit(1);
  }
}

void zulogger::InitializeLogger(std::string& path) {
  const std::string dir = host::path(log_dir);
  if (!isDirExists(dir)) createDir(dir);

  // Continue the log that is already there, if any (the last regular file listed).
  std::string chosen = host::path(path);
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
      struct stat st;
      const std::string entry = dir + e->d_name;
      if (stat(entry.c_str(), &st) == 0 && S_ISREG(st.st_mode)) chosen = entry;
    }
    closedir(d);
  }
  init(chosen.c_str());
  clearLogFile(chosen);
  if (fp_) CurrentTime();
}

void zulogger::clearLogFile(std::string& path) {
  if (!fp_) return;
  char line[256];
  long day = 0;
  bool found = false;
  while (fgets(line, sizeof line, fp_)) {
    if (strstr(line, "_day_")) {
      found = true;
      day = strlen(line) > 5 ? strtol(line + 5, nullptr, 10) : 0;
      break;
    }
  }
  if (found && day != 0 && day != local_day()) {
    const std::string dir = host::path(log_dir);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      if (entry.path().filename() == kKeptEntry) continue;
      std::filesystem::remove_all(entry.path(), ec);
    }
    fclose(fp_);
    fp_ = nullptr;
    init(path.c_str());
  }

  if (fseek(fp_, 0, SEEK_END) != 0) {
    shutdown();
    return;
  }
  long size = ftell(fp_);
  if (size < 0) {
    shutdown();
    return;
  }
  if (size > kMaxLogSize) rotateLogFile(path);
}

void zulogger::rotateLogFile(std::string& prefix) {
  shutdown();
  const std::string name = prefix + local_time("%Y-%m-%d-%H:%M:%S") + ".log";
  init(name.c_str());
}

std::string zulogger::GetTimeSec() {
  return std::string("[").append(local_time("%Y-%m-%d %H:%M:%S")).append("]");
}

void zulogger::CurrentTime() {
  fprintf(fp_, "\n\n-------- Current time is: %s --------\n\n",
          local_time("%Y-%m-%d %H:%M:%S").c_str());
  fprintf(fp_, "Current day is: \n_day_%d\n\n", local_day());
  fflush(fp_);
}

void zulogger::GetTimeMs() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  localtime_r(&tv.tv_sec, &tm);
  char buf[64];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  fprintf(fp_, "%s.%03d \n", buf, static_cast<int>(tv.tv_usec / 1000));
  fflush(fp_);
}

void zulogger::silent() { silent_ = true; }

void zulogger::shutdown() {
  if (fp_) fclose(fp_);
  fp_ = nullptr;
}
