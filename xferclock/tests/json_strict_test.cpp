// xferclock --json and --strict end to end on the emulated platform: the document against
// docs/schema/xferclock.v1.schema.json, and the exit codes with failure injection.
#include <gtest/gtest.h>

#include <string>

#include "json_check.h"
#include "run_command.h"

namespace {

using jsoncheck::jq;

testkit::CommandResult run(const std::string& env, const std::string& args) {
  return testkit::run_command("env QUELVAN_SIM_FAIL= " + env + " " XFERCLOCK_BIN
                              " --start 4kb --end 8kb --factor 2 --repeats 3 " + args + " 2>/dev/null");
}

TEST(XferclockStrict, ExitCodesAndDocuments) {
  struct Case {
    std::string env, args;
    int plain, strict;  // exit status without and with --strict
    std::string facts;
  };
  const Case cases[] = {
      {"QUELVAN_SIM_GPUS=2", "", 0, 0, R"(["ok",[[0,4096],[1,4096],[0,8192],[1,8192]]])"},
      {"QUELVAN_SIM_GPUS=1", "--max-latency-us 0.000001", 0, 1, R"(["critical",[[0,4096],[0,8192]]])"},
      {"QUELVAN_SIM_GPUS=0", "", 1, 2,
       R"(["unknown",[],"Cuda failure xferclock.cpp:N: 'no CUDA-capable device is detected'"])"},
      {"QUELVAN_SIM_GPUS=1 QUELVAN_SIM_FAIL=cudaMalloc", "", 1, 2,
       R"(["unknown",[],"Cuda failure xferclock.cpp:N: 'out of memory'"])"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.env, c.args).status, c.plain) << c.env << " " << c.args;
    EXPECT_EQ(run(c.env, c.args + " --strict").status, c.strict) << c.env << " " << c.args;
    EXPECT_EQ(run(c.env, c.args + " --json").status, c.plain) << c.env << " " << c.args;
    const testkit::CommandResult doc = run(c.env, c.args + " --json --strict");
    EXPECT_EQ(doc.status, c.strict) << c.env << " " << c.args;
    EXPECT_EQ(jsoncheck::schemaProblem("xferclock.v1.schema.json", doc.output), "") << doc.output;
    EXPECT_EQ(jq("[.status, [.results[] | [.device, .size_bytes]], (.error | values | sub(\":[0-9]+:\"; \":N:\"))]", doc.output), c.facts) << c.env;
  }
  const testkit::CommandResult d2h = run("QUELVAN_SIM_GPUS=1", "--mode --d2h --json");
  EXPECT_EQ(jq("[.direction, .repeats, (.results | all(.gpu_latency_us > 0 and .cpu_latency_us > 0))]", d2h.output),
            R"(["d2h",3,true])");
}

}  // namespace
