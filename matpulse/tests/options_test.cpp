// The default table and the banner, in-process (no GPU is touched).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"
#include "results.h"
#include "test_params.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

void parse(CLI::App& app, std::vector<std::string> args) {
  app_add_option(app);
  args.insert(args.begin(), "matpulse");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  app.parse(static_cast<int>(argv.size()), argv.data());
}

TEST(Defaults, FilledPerOptionFromTheTable) {
  struct Case {
    uint32_t dev;
    std::vector<std::string> args;
    uint32_t m, n, k;
    bool ta, tb;
  };
  const Case cases[] = {
      {kOtherCC, {}, 3072, 4096, 30176, true, true},
      {kCC71, {"--d", "2"}, 2048, 2048, 16384, true, true},
      {kCC71, {"--d", "1"}, 2048, 2048, 8192, true, false},
      {kCC71, {"--d", "4"}, 3072, 4096, 30176, false, true},
      {kCC70, {"--d", "4"}, 3072, 4096, 30176, false, true},
      {kCC80, {"--d", "3"}, 3072, 4096, 30176, true, true},
      {kOtherCC, {"--m", "100"}, 100, 4096, 30176, true, true},
      {kCC71, {"--d", "3", "--k", "7", "--tb", "1"}, 2048, 2048, 7, true, true},
      {kCC80, {"--ta", "0", "--tb", "false", "--n", "9"}, 3072, 9, 30176, false, false},
  };
  for (const Case& c : cases) {
    reset_params();
    CLI::App app{"", ""};
    parse(app, c.args);
    device_type = c.dev;
    set_default_params(app);
    std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(gemm_m, c.m) << what;
    EXPECT_EQ(gemm_n, c.n) << what;
    EXPECT_EQ(gemm_k, c.k) << what;
    EXPECT_EQ(trans_a, c.ta) << what;
    EXPECT_EQ(trans_b, c.tb) << what;
  }
}

TEST(Defaults, HiddenOptionsParseAndDeviceListTakesBothForms) {
  reset_params();
  CLI::App app{"", ""};
  parse(app, {"--i", "0,1", "--i", "3", "--neg", "--v", "--prt", "--alpha", "2.5", "--nthreads", "3", "--dur", "0.5",
              "--high_memory_usage", "--delay", "7"});
  EXPECT_EQ(dev_index_list, (std::vector<int>{0, 1, 3}));
  EXPECT_TRUE(allow_neg && verify_res && print_mat && high_memory_usage);
  EXPECT_EQ(alpha, 2.5f);
  EXPECT_EQ(nthreads, 3);
  EXPECT_EQ(duration, 0.5);
  EXPECT_EQ(delay, 7);
  std::string help = app.help();
  EXPECT_NE(help.find("--limit"), std::string::npos);
  EXPECT_EQ(help.find("--alpha"), std::string::npos);
  EXPECT_EQ(help.find("--high_memory_usage"), std::string::npos);
}

TEST(Defaults, EmptyArgumentIsRefusedNotLoopedOn) {
  reset_params();
  CLI::App app{"", ""};
  EXPECT_THROW(parse(app, {"", "--i", "0"}), CLI::ParseError);
}

TEST(Results, AverageAndThroughputOverTheMeasuredWorkers) {
  reset_params();
  gemm_m = 1000;
  gemm_n = 2000;
  gemm_k = 500;
  loop_num = 10;
  dev_nums = 2;
  elapse_time[0] = 4.0, elapse_measured[0] = true;
  elapse_time[1] = 0.0, elapse_measured[1] = false;  // a worker that gave up has no figure
  elapse_time[2] = 99.0, elapse_measured[2] = true;  // beyond the list
  ResultSummary r = summarize_results();
  EXPECT_DOUBLE_EQ(r.avg_ms, 4.0);
  EXPECT_DOUBLE_EQ(r.throughput, 10 * 1e-9 * 2 * 1000.0 * 2000 * 500 / 4.0);
  data_type = kINT8;
  CaptureStdout();
  print_results();
  EXPECT_EQ(GetCapturedStdout(), "Test results:\navg elapse: 4.000000 ms, TOPs: 5.000000\n");
  // No worker measured: no throughput from failed calls.
  elapse_measured[0] = false;
  r = summarize_results();
  EXPECT_EQ(r.avg_ms, 0.0);
  EXPECT_EQ(r.throughput, 0.0);
}

}  // namespace
