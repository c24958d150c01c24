#include "installer/logger.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
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
#include <sstream>
#include <string>

#include "installer/host.h"
#include "installer/process_state.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int Today() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return tm.tm_mday;
}

// Each test gets its own host root, so the log directory is ROOT/var/log/quelvanostrel/.
class Logger : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/logger_test-XXXXXX";
    root_ = mkdtemp(tmpl);
    host::set_root(root_.string());
    log_dir_ = root_ / "var/log/quelvanostrel";
  }
  void TearDown() override {
    reset_process_state();
    host::set_root("");
    fs::remove_all(root_);
  }
  void WriteLog(const std::string& name, const std::string& content) {
    fs::create_directories(log_dir_);
    std::ofstream(log_dir_ / name, std::ios::binary) << content;
  }
  fs::path root_, log_dir_;
  std::string path_ = "/var/log/quelvanostrel/install.log";
};

struct EchoCase {
  LogLevel level;
  bool silent;
  std::string out, err;
};

TEST_F(Logger, TerminalEchoRules) {
  const EchoCase cases[] = {
      {RECORD, false, "m 1\n", ""}, {RECORD, true, "", ""},  {INFO, false, "", ""},
      {WARNING, false, "", ""},     {ERROR, false, "", ""},  {FATAL, false, "", "m 1\n"},
      {FATAL, true, "", "m 1\n"},
  };
  for (const auto& c : cases) {
    process_state.log_silent = c.silent;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    zulogger::logger(c.level, "m %d\n", 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.level << " silent " << c.silent;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.level << " silent " << c.silent;
  }
}

TEST_F(Logger, FileLinesAndCodeMessages) {
  zulogger::InitializeLogger(path_);
  zulogger::silent();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  zulogger::logger(RECORD, "copied %d files\n", 3);
  zulogger::logger(INFO, "Set character type %s.\n", "C.UTF-8");
  zulogger::code_error_message(39);
  zulogger::code_error_message(2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error code: 39  message: File copy operation failed.\n"
            "Error code: 2  message: unknown error\n");
  zulogger::shutdown();

  const std::string log = ReadAll(log_dir_ / "install.log");
  const std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])";
  const std::regex expected(
      "\n\n-------- Current time is: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d --------\n\n"
      "Current day is: \n_day_" + std::to_string(Today()) + "\n\n" +
      stamp + R"(\[RECORD\]: copied 3 files\n)" +
      stamp + R"(\[INFO\]: Set character type C\.UTF-8\.\n)" +
      stamp + R"(\[FATAL\]: Error code: 39  message: File copy operation failed\.\n)" +
      stamp + R"(\[FATAL\]: Error code: 2  message: unknown error\n)");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST_F(Logger, EarlierContentIsKept) {
  WriteLog("install.log", "earlier run\n");
  zulogger::InitializeLogger(path_);
  zulogger::logger(INFO, "later run\n");
  zulogger::shutdown();
  const std::string log = ReadAll(log_dir_ / "install.log");
  EXPECT_EQ(log.rfind("earlier run\n", 0), 0u) << log;
  EXPECT_NE(log.find("[INFO]: later run\n"), std::string::npos) << log;
}

TEST_F(Logger, RotatesOnlyAbove20480Bytes) {
  for (size_t size : {20480u, 20481u}) {
    fs::remove_all(log_dir_);
    WriteLog("install.log", std::string(size - 1, 'x') + "\n");
    zulogger::InitializeLogger(path_);
    zulogger::logger(INFO, "after\n");
    zulogger::shutdown();

    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(log_dir_)) files.push_back(e.path());
    if (size == 20480) {
      ASSERT_EQ(files.size(), 1u);
      EXPECT_GT(fs::file_size(log_dir_ / "install.log"), size);
    } else {
      ASSERT_EQ(files.size(), 2u);
      EXPECT_EQ(fs::file_size(log_dir_ / "install.log"), size);  // old log left as it was
      fs::path rotated = files[0] == log_dir_ / "install.log" ? files[1] : files[0];
      EXPECT_TRUE(std::regex_match(rotated.filename().string(),
                                   std::regex(R"(install\.log\d{4}-\d\d-\d\d-\d\d:\d\d:\d\d\.log)")))
          << rotated;
      EXPECT_NE(ReadAll(rotated).find("[INFO]: after\n"), std::string::npos);
    }
  }
}

TEST_F(Logger, DayMarkerOfAnotherDayClearsTheLogDirectory) {
  struct Case {
    int day;
    bool cleared;
  };
  const int other = Today() % 28 + 1;
  for (const Case& c : {Case{other, true}, Case{0, false}, Case{Today(), false}}) {
    fs::remove_all(log_dir_);
    WriteLog("install.log", "old line\nCurrent day is: \n_day_" + std::to_string(c.day) + "\n\n");
    fs::create_directories(log_dir_ / "old");
    std::ofstream(log_dir_ / "old" / "x.log") << "x";
    fs::create_directories(log_dir_ / "uninstall");
    std::ofstream(log_dir_ / "uninstall" / ".driver_uninstall_manifests") << "FILE /a 123\n";

    zulogger::InitializeLogger(path_);
    zulogger::logger(INFO, "new\n");
    zulogger::shutdown();

    const std::string log = ReadAll(log_dir_ / "install.log");
    EXPECT_EQ(log.find("old line") == std::string::npos, c.cleared) << "day " << c.day;
    EXPECT_EQ(fs::exists(log_dir_ / "old"), !c.cleared) << "day " << c.day;
    EXPECT_NE(log.find("[INFO]: new\n"), std::string::npos);
    // The uninstall records of the previous installation are never part of the clearing.
    EXPECT_EQ(ReadAll(log_dir_ / "uninstall" / ".driver_uninstall_manifests"), "FILE /a 123\n");
  }
}

}  // namespace
