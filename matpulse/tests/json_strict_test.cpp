// matpulse --json and --strict end to end on the emulated platform: the document against
// docs/schema/matpulse.v1.schema.json, and the exit codes with failure injection.
#include <gtest/gtest.h>

#include <string>

#include "json_check.h"
#include "run_command.h"

namespace {

using jsoncheck::jq;

struct Outcome {
  std::string out;
  int status = -1;
};

// Standard output only: under --json it must hold the document and nothing else.
Outcome run(const std::string& env, const std::string& args) {
  testkit::CommandResult r = testkit::run_command("env QUELVAN_SIM_FAIL= " + env + " " MATPULSE_BIN
                                                  " --m 24 --n 20 --k 36 --nthreads 2 --l 2 " + args + " 2>/dev/null");
  return {r.output, r.status};
}

TEST(MatpulseStrict, ExitCodesAndDocuments) {
  struct Case {
    std::string env, args;
    int status;         // with --strict, with or without --json
    std::string facts;  // jq of the document
  };
  const Case cases[] = {
      {"QUELVAN_SIM_GPUS=2", "--i 0,1 --v", 0, R"(["ok",[["pass","ok"],["pass","ok"]]])"},
      // Every product corrupted: each device fails verification and is named.
      {"QUELVAN_SIM_GPUS=1 QUELVAN_SIM_FAIL=gemm_result", "--i 0 --v", 1, R"(["critical",[["fail","critical"]]])"},
      {"QUELVAN_SIM_GPUS=2 QUELVAN_SIM_FAIL=gemm_result", "--i 1 --v", 1, R"(["critical",[["fail","critical"]]])"},
      // A threshold no emulated GPU reaches.
      {"QUELVAN_SIM_GPUS=1", "--i 0 --min-tflops 1000000", 1, R"(["critical",[[null,"critical"]]])"},
      // No GPU, and a worker whose library cannot start.
      {"QUELVAN_SIM_GPUS=0", "--i -1", 2, R"(["unknown",[]])"},
      {"QUELVAN_SIM_GPUS=1 QUELVAN_SIM_FAIL=cublasLtCreate", "--i 0", 2, R"(["unknown",[[null,"unknown"]]])"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.env, c.args).status, 0) << c.args << ": without --strict the status stays 0";
    EXPECT_EQ(run(c.env, c.args + " --strict").status, c.status) << c.env << " " << c.args;
    const Outcome doc = run(c.env, c.args + " --strict --json");
    EXPECT_EQ(doc.status, c.status) << c.args << ": --json keeps the exit code";
    EXPECT_EQ(jsoncheck::schemaProblem("matpulse.v1.schema.json", doc.out), "") << doc.out;
    EXPECT_EQ(jq("[.status, [.devices[] | [.verification, .status]]]", doc.out), c.facts) << c.env << " " << c.args;
  }
  const Outcome failed = run("QUELVAN_SIM_GPUS=2 QUELVAN_SIM_FAIL=gemm_result", "--i 1 --v --strict --json");
  EXPECT_EQ(jq("[.devices[] | select(.status != \"ok\") | [.index, .error]]", failed.out),
            R"([[1,"verification failed"]])");
  const Outcome passed = run("QUELVAN_SIM_GPUS=1", "--i 0 --json");
  EXPECT_EQ(jq("[.gemm.m, .gemm.n, .gemm.k, .gemm.type, .gemm.loops, .unit, (.devices[0].tflops > 0)]", passed.out),
            R"([24,20,36,"FP32",2,"TFLOPs",true])");
}

}  // namespace
