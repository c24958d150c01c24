// The installer's logger: echoes RECORD to standard output (unless silent) and FATAL to standard
// error, and writes every message, time-stamped and tagged with its level, into a log file under
// log_dir once InitializeLogger or init has opened one. All members are static; the open file
// and the silent switch live in process_state, with the rest of the process-wide state. The
// logger is the bottom of the installer library: it uses nothing of ours but the host layer,
// the code table and that state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

enum LogLevel { RECORD = 0, INFO = 1, WARNING = 2, ERROR = 3, FATAL = 4 };

// The log directory (a host path: mapped through host::path when used).
inline constexpr const char* log_dir = "/var/log/quelvanostrel/";

class zulogger {
 public:
  zulogger() {}
  ~zulogger() {}

  static void logger(LogLevel level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Reports "Error code: %d  message: %s\n" on standard error and, with a log open, as FATAL.
  static void code_error_message(uint8_t code);

  // Opens path (created with its directory when missing; earlier content kept). Ends the
  // process with status 1 when it cannot be opened.
  static void init(const char* path);
  // Prepares log_dir, picks the log file (path, or the last entry listed in log_dir), opens it,
  // applies clearLogFile and writes the time header.
  static void InitializeLogger(std::string& path);
  // Empties log_dir when the log's day marker names another day; rotates a log over 20480 bytes.
  static void clearLogFile(std::string& path);
  // Closes the log and opens prefix + "%Y-%m-%d-%H:%M:%S" + ".log".
  static void rotateLogFile(std::string& prefix);

  static std::string GetTimeSec();  // "[%Y-%m-%d %H:%M:%S]"
  static void CurrentTime();        // time header into the open log
  static void GetTimeMs();          // "%s.%03d \n" into the open log
  static void silent();
  static void shutdown();

  static std::mutex mtx;
  static const char* const log_prefix[5];
};
