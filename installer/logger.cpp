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
#include "installer/process_state.h"

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
  if (!process_state.log_silent && level == RECORD) {
    va_start(args, fmt);
    vfprintf(stdout, fmt, args);
    va_end(args);
    fflush(stdout);
  } else if (level == FATAL) {
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
  }
  if (!process_state.log_file) return;
  char* message = nullptr;
  va_start(args, fmt);
  int n = vasprintf(&message, fmt, args);
  va_end(args);
  if (n < 0) return;
  fprintf(process_state.log_file, "%s%s%s", stamp.c_str(), log_prefix[level], message);
  fflush(process_state.log_file);
  free(message);
}

void zulogger::code_error_message(uint8_t code) {
  const std::string stamp = GetTimeSec();
  const std::string message = code_message(code);
  std::lock_guard<std::mutex> lock(mtx);
  fprintf(stderr, "Error code: %d  message: %s\n", code, message.c_str());
  if (process_state.log_file) {
    fprintf(process_state.log_file, "%s%sError code: %d  message: %s\n", stamp.c_str(),
            log_prefix[FATAL], code, message.c_str());
    fflush(process_state.log_file);
  }
}

void zulogger::init(const char* path) {
  const std::string file = host::path(path);
  std::string dir = file;  // dirname edits its argument
  const std::string parent = dirname(dir.data());
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);  // a failure shows in the open below
  // "a+" keeps what an earlier run wrote, so the day marker and the size of a real log are
  // there for clearLogFile; reading starts at the beginning, writes go to the end.
  process_state.log_file = fopen(file.c_str(), "a+");
  if (!process_state.log_file) {
    fputs("Failed to init zulogger.\n\n", stderr);
    exit(1);
  }
}

void zulogger::InitializeLogger(std::string& path) {
  const std::string dir = host::path(log_dir);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);

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
  if (process_state.log_file) CurrentTime();
}

void zulogger::clearLogFile(std::string& path) {
  if (!process_state.log_file) return;
  char line[256];
  long day = 0;
  bool found = false;
  while (fgets(line, sizeof line, process_state.log_file)) {
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
    fclose(process_state.log_file);
    process_state.log_file = nullptr;
    init(path.c_str());
  }

  if (fseek(process_state.log_file, 0, SEEK_END) != 0) {
    shutdown();
    return;
  }
  long size = ftell(process_state.log_file);
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
  fprintf(process_state.log_file, "\n\n-------- Current time is: %s --------\n\n",
          local_time("%Y-%m-%d %H:%M:%S").c_str());
  fprintf(process_state.log_file, "Current day is: \n_day_%d\n\n", local_day());
  fflush(process_state.log_file);
}

void zulogger::GetTimeMs() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  localtime_r(&tv.tv_sec, &tm);
  char buf[64];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  fprintf(process_state.log_file, "%s.%03d \n", buf, static_cast<int>(tv.tv_usec / 1000));
  fflush(process_state.log_file);
}

void zulogger::silent() { process_state.log_silent = true; }

void zulogger::shutdown() {
  if (process_state.log_file) fclose(process_state.log_file);
  process_state.log_file = nullptr;
}
