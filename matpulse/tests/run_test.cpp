// The built program end to end on the emulated platform, configured by its environment.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "run_command.h"

namespace {

struct Outcome {
  std::string out;
  int status = -1;
};

// Runs the program with `env` assignments in front; standard error joins the output.
Outcome run(const std::string& env, const std::string& args) {
  std::string cmd = "env QUELVAN_SIM_FAIL= " + env + " " MATPULSE_BIN " " + args + " 2>&1";
  testkit::CommandResult r = testkit::run_command(cmd);
  return {r.output, r.status};
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

const char* kSmall = "--m 24 --n 20 --k 36 --nthreads 2";

TEST(Matpulse, ParameterChecks) {
  struct Case {
    std::string env, args, expected;
  };
  const Case cases[] = {
      {"QUELVAN_SIM_GPUS=2", "", "No device is specified with --i\n"},
      {"QUELVAN_SIM_GPUS=2", "--i 0,5", "Only 2 devices. Specified device with index: 5 does not exit.\n"},
      {"QUELVAN_SIM_GPUS=2", "--i 0,-1", "Only 2 devices. Specified device with index: -1 does not exit.\n"},
      {"QUELVAN_SIM_GPUS=2", "--i 0 --d 5", "Unknown data type: 5\n"},
      {"QUELVAN_SIM_GPUS=0", "--i 0 --d 7", "Unknown data type: 7\n"},
      {"QUELVAN_SIM_GPUS=2", "--i 0 --m 0 --n 9", "Invalid M = 0, N = 9, K = 1\n"},
      {"QUELVAN_SIM_GPUS=0", "--i -1", "No GPU found, --i -1 selects no device.\n"},
      {"QUELVAN_SIM_GPUS=1", "--m 2 --n 2 --k 2 --i 0" + repeat(",0", 256),
       "Too many devices specified with --i: 257, at most 256.\n"},
      {"QUELVAN_SIM_GPUS=1", "--i 0 --m 65536 --k 65536 --n 1",
       "Invalid M = 65536, N = 1, K = 65536: a matrix may hold at most 2147483647 elements.\n"},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.env, c.args);
    EXPECT_EQ(r.out, c.expected) << c.args;
    EXPECT_EQ(r.status, 0) << c.args;
  }
}

TEST(Matpulse, ParseErrorsAndHelpUseTheParsersExitCodes) {
  Outcome help = run("", "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Quelvan GEMM performance benchmark."), std::string::npos);
  EXPECT_EQ(help.out.find("--dur"), std::string::npos);
  Outcome bad = run("", "--bogus");
  EXPECT_NE(bad.status, 0);
  Outcome malformed = run("", "--m x --i 0");
  EXPECT_NE(malformed.status, 0);
}

TEST(Matpulse, BannerAndDefaults) {
  struct Case {
    std::string env, args, banner;
  };
  const Case cases[] = {
      // Zero-filled inputs on 7.1 keep the full default size cheap; the worker is stopped early.
      {"QUELVAN_SIM_CC=7.1 QUELVAN_SIM_FAIL=cublasLtCreate", "--i 0 --d 2",
       "Benchmarking GEMM: M = 2048 N = 2048 K = 16384 Transpose A: 1 Transpose B: 1 LOOPS: 1  Data type: INT8\n"
       "Specified device: 0\n"},
      {"QUELVAN_SIM_GPUS=3", "--i -1 --d 4 --m 8 --n 8 --k 8 --l 3",
       "Benchmarking GEMM: M = 8 N = 8 K = 8 Transpose A: 0 Transpose B: 1 LOOPS: 3  Data type: FP64\n"
       "Specified device: 0 1 2\n"},
      {"QUELVAN_SIM_GPUS=2 QUELVAN_SIM_CC=7.1,8.0", "--i 1,1 --d 1 --m 8 --n 8 --k 8",
       "Benchmarking GEMM: M = 8 N = 8 K = 8 Transpose A: 1 Transpose B: 1 LOOPS: 1  Data type: FP16\n"
       "Specified device: 1 1\n"},
      {"", "--i 0 --m 8 --n 8 --k 8 --dur 0.0000001 --nthreads 0",
       "Test will continue 0.000000 hours, these operations will not be calculated into results.\n"
       "Benchmarking GEMM: M = 8 N = 8 K = 8 Transpose A: 1 Transpose B: 1 LOOPS: 1  Data type: FP32\n"
       "Specified device: 0\n"},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.env, c.args);
    EXPECT_EQ(r.status, 0) << c.args;
    EXPECT_EQ(r.out.substr(0, c.banner.size()), c.banner) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find("Test results:\n"), std::string::npos) << c.args;
  }
  Outcome int8 = run("QUELVAN_SIM_CC=7.1 QUELVAN_SIM_FAIL=cublasLtCreate", "--i 0 --d 2");
  EXPECT_NE(int8.out.find("Error: cannot init BLASLt lib. Device idx: 0\n"), std::string::npos);
  EXPECT_NE(int8.out.find("TOPs"), std::string::npos);
}

TEST(Matpulse, VerifiedRunsPassForEveryTypeAndLayout) {
  for (int type = 0; type < 5; ++type)
    for (const char* layout : {"--ta 0 --tb 0", "--ta 1 --tb 1", "--ta 1 --tb 0"})
      for (const char* devices : {"--i 0", "--i 0,1"}) {
        std::string args = std::string(kSmall) + " --v --alpha 1.5 --neg --d " + std::to_string(type) + " " +
                            layout + " " + devices + " --l 2";
        Outcome r = run("QUELVAN_SIM_GPUS=2", args);
        int workers = std::string(devices) == "--i 0" ? 1 : 2;
        EXPECT_EQ(count_of(r.out, "PASS!\n"), static_cast<size_t>(workers)) << args << "\n" << r.out;
        EXPECT_EQ(count_of(r.out, "Error"), 0u) << args;
        EXPECT_NE(r.out.find(type == 2 ? "TOPs: " : "TFLOPs: "), std::string::npos) << args;
      }
}

TEST(Matpulse, CorruptedResultFails) {
  Outcome r = run("QUELVAN_SIM_FAIL=gemm_result@1", std::string(kSmall) + " --i 0 --v");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count_of(r.out, "FAIL!\n"), 1u) << r.out;
  EXPECT_GT(count_of(r.out, "Error: result["), 0u);
  EXPECT_EQ(count_of(r.out, "PASS!"), 0u);
  // Three uploads, then the copy back: a failed copy is one line, never a list of mismatches.
  Outcome lost = run("QUELVAN_SIM_FAIL=cudaMemcpy@4", std::string(kSmall) + " --i 0 --v");
  EXPECT_EQ(lost.status, 0);
  EXPECT_EQ(count_of(lost.out, "Cannot copy the result from the GPU: "), 1u) << lost.out;
  EXPECT_EQ(count_of(lost.out, "FAIL!\n"), 1u);
  EXPECT_EQ(count_of(lost.out, "Error: result["), 0u);
}

// On capability 7.0 INT8 takes the integer path, where alpha 2.5 reaches the library as 2;
// elsewhere the single 2.5 is used. Inputs of --limit 2 are all 1, so every sum is K.
TEST(Matpulse, Int8OnCapability70UsesTheIntegerPath) {
  const std::string args = "--i 0 --d 2 --m 2 --n 2 --k 4 --limit 2 --alpha 2.5 --v";
  Outcome v100 = run("QUELVAN_SIM_CC=7.0", args);
  EXPECT_NE(v100.out.find("Error: result[1, 1] = 8, but  ref[1, 1] = 10   idx=0\n"), std::string::npos) << v100.out;
  EXPECT_EQ(count_of(v100.out, "FAIL!\n"), 1u);
  Outcome a100 = run("QUELVAN_SIM_CC=8.0", args);
  EXPECT_EQ(count_of(a100.out, "PASS!\n"), 1u) << a100.out;
  // Sums far beyond the byte range saturate on both sides of the comparison.
  Outcome big = run("QUELVAN_SIM_CC=7.0", "--i 0 --d 2 --m 16 --n 16 --k 64 --v");
  EXPECT_EQ(count_of(big.out, "PASS!\n"), 1u) << big.out;
}

TEST(Matpulse, WorkerFailuresEndOnlyThatWorker) {
  struct Case {
    std::string fail, message;
  };
  const Case cases[] = {
      {"cudaMalloc@2", "GPU memory allocation error.\n"},
      {"cublasLtMatrixLayoutCreate@3", "cuBLAS API failed with status "},
      // Two workers make two products each (warm-up, one timed); the warm-up's status is not
      // judged, and the 4th call overall is always some worker's timed product.
      {"cublasLtMatmul@4", "cuBLAS API failed with status "},
      {"cublasCreate_v2@2", "Error: cannot init BLASLt lib. Device idx: "},
  };
  for (const Case& c : cases) {
    Outcome r = run("QUELVAN_SIM_GPUS=2 QUELVAN_SIM_FAIL=" + c.fail, std::string(kSmall) + " --i 0,1 --v");
    EXPECT_EQ(r.status, 0) << c.fail;
    EXPECT_EQ(count_of(r.out, c.message), 1u) << c.fail << "\n" << r.out;
    EXPECT_EQ(count_of(r.out, "PASS!\n"), 1u) << c.fail << "\n" << r.out;
    EXPECT_NE(r.out.find("Test results:\navg elapse: "), std::string::npos) << c.fail;
  }
}

TEST(Matpulse, PrintsMatricesAsStored) {
  Outcome r = run("", "--i 0 --m 2 --n 3 --k 4 --ta 1 --v --prt");
  // A is stored transposed: K rows of M columns.
  size_t a = r.out.find("A =\n"), b = r.out.find("B =\n");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_EQ(count_of(r.out.substr(a, b - a), "\n"), 5u);
  EXPECT_NE(r.out.find("gemm_C_gpu =\n"), std::string::npos);
  EXPECT_NE(r.out.find("gemm_C_cpu =\n"), std::string::npos);
  EXPECT_NE(r.out.find("PASS!\n"), std::string::npos);
}

TEST(Matpulse, HighMemoryUsageAndPowerPhaseStillMeasure) {
  Outcome r = run("QUELVAN_SIM_MEM_MB=4096", std::string(kSmall) + " --i 0 --v --high_memory_usage --dur 0.000001 --delay 100");
  EXPECT_NE(r.out.find("PASS!\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Test results:"), std::string::npos);
}

// Under NVIDIA's library rules every type and layout either passes or is refused before anything
// is allocated, in words; never with a library status. INT8 runs in the TN form whatever the flags.
TEST(MatpulseNvidiaRules, EveryTypeLayoutAndShapePassesOrIsRefusedClearly) {
  for (int type = 0; type < 5; ++type)
    for (const char* layout : {"--ta 0 --tb 0", "--ta 0 --tb 1", "--ta 1 --tb 0", "--ta 1 --tb 1"})
      for (const char* devices : {"--i 0", "--i 0,1"})
        for (const char* shape : {"--m 7 --n 5 --k 9", "--m 8 --n 12 --k 16", "--m 8 --n 8 --k 8"}) {
          std::string args = std::string(shape) + " --nthreads 1 --v --neg --l 2 --d " + std::to_string(type) + " " +
                             layout + " " + devices;
          Outcome r = run("QUELVAN_SIM_GPUS=2 QUELVAN_SIM_RULES=nvidia", args);
          EXPECT_EQ(r.status, 0) << args;
          if (type == 2 && std::string(shape) == "--m 7 --n 5 --k 9") {
            EXPECT_EQ(r.out,
                      "INT8 products on this GPU need M and K to be multiples of 4 (M = 7, K = 9): choose other "
                      "sizes.\n")
                << args;
            continue;
          }
          int workers = std::string(devices) == "--i 0" ? 1 : 2;
          EXPECT_EQ(count_of(r.out, "PASS!\n"), static_cast<size_t>(workers)) << args << "\n" << r.out;
          EXPECT_EQ(count_of(r.out, "status"), 0u) << args << "\n" << r.out;
        }
}

// A failed product or a GPU fault reported at the wait: no figure comes from it, and the power
// phase stops at once.
TEST(MatpulseNvidiaRules, FailedProductsGiveNoFigure) {
  struct Case {
    std::string fail, args, message;
  };
  const std::string status = "cuBLAS API failed with status 13\n";
  const Case cases[] = {
      {"cublasLtMatmul@2", "--l 3", status},                  // the timed loop's first product
      {"cublasLtMatmul@1", "--l 3", status},                  // the warm-up
      {"cublasLtMatmul@1", "--dur 0.0000003 --l 3", status},  // the power phase
      {"cublasDgemm_v2@3", "--d 4 --l 3", status},
      {"cudaDeviceSynchronize@2", "--l 3", "GPU execution failed on device 0: unknown error\n"},
  };
  for (const Case& c : cases) {
    Outcome r = run("QUELVAN_SIM_RULES=nvidia QUELVAN_SIM_FAIL=" + c.fail, std::string(kSmall) + " --i 0 --v " + c.args);
    EXPECT_EQ(count_of(r.out, c.message), 1u) << c.fail << "\n" << r.out;
    EXPECT_EQ(count_of(r.out, "PASS!"), 0u) << c.fail;
    EXPECT_NE(r.out.find("Test results:\navg elapse: 0.000000 ms, TFLOPs: 0.000000\n"), std::string::npos)
        << c.fail << "\n" << r.out;
  }
}

// With the FP16 defaults every exact sum (about 1.27e5) is beyond the largest half: the GPU's
// infinities fail, with a hint, instead of passing through a NaN comparison.
TEST(MatpulseNvidiaRules, Fp16OverflowFailsWithAHint) {
  Outcome r = run("QUELVAN_SIM_RULES=nvidia", "--i 0 --d 1 --m 4 --n 4 --v --nthreads 2");
  EXPECT_EQ(count_of(r.out, "Error: result["), 16u) << r.out;
  EXPECT_NE(r.out.find("= inf, but  ref["), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("The results overflow FP16 (largest finite value 65504): use --limit to choose a smaller "
                       "input range.\nFAIL!\n"),
            std::string::npos)
      << r.out;
  Outcome limited = run("QUELVAN_SIM_RULES=nvidia", "--i 0 --d 1 --m 4 --n 4 --k 64 --limit 2 --v");
  EXPECT_EQ(count_of(limited.out, "PASS!\n"), 1u) << limited.out;
}

// Each worker allocates its workspace and asks the heuristic once, whatever the loop count: with
// two workers the 8th allocation (4 per worker) and the 2nd heuristic call exist, the next do not.
TEST(MatpulseNvidiaRules, WorkspaceAndAlgorithmChosenOncePerWorker) {
  struct Case {
    std::string fail;
    const char* message;  // printed once, or nullptr: the call never happens
  };
  const Case cases[] = {
      {"cudaMalloc@8", "GPU memory allocation error.\n"},
      {"cudaMalloc@9", nullptr},
      {"cublasLtMatmulAlgoGetHeuristic@2", "cuBLASLt found no algorithm for this product on device 0 (status 15).\n"},
      {"cublasLtMatmulAlgoGetHeuristic@3", nullptr},
  };
  for (const Case& c : cases) {
    Outcome r = run("QUELVAN_SIM_RULES=nvidia QUELVAN_SIM_FAIL=" + c.fail, std::string(kSmall) + " --i 0,0 --v --l 4");
    EXPECT_EQ(count_of(r.out, "PASS!\n"), c.message ? 1u : 2u) << c.fail << "\n" << r.out;
    if (c.message) {
      EXPECT_EQ(count_of(r.out, c.message), 1u) << c.fail << "\n" << r.out;
    }
  }
}

}  // namespace
