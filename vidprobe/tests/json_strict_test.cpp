// vidprobe --json and --strict end to end on an ffmpeg-made stream: the document against
// docs/schema/vidprobe.v1.schema.json, and the exit codes with failure injection.
#include <gtest/gtest.h>

#include <string>

#include "json_check.h"
#include "run_command.h"

namespace {

using jsoncheck::jq;

const std::string kStream = std::string(VIDEO_STREAMS_DIR) + "/h264.h264";  // 30 frames

testkit::CommandResult run(const std::string& env, const std::string& args) {
  return testkit::run_command("cd /tmp && env QUELVAN_SIM_FAIL= " + env + " timeout 120 " VIDPROBE_BIN " " + args +
                              " 2>/dev/null");
}

TEST(VidprobeStrict, ExitCodesAndDocuments) {
  const std::string two = "--instance-num 2 --codec 0,0 --input " + kStream + "," + kStream;
  struct Case {
    std::string env, args;
    int plain, strict;
    std::string facts;
  };
  const Case cases[] = {
      {"", two, 0, 0, R"(["ok",[[0,true,30],[1,true,30]],60])"},
      {"", two + " --min-fps 1e12", 0, 1, R"(["critical",[[0,true,30],[1,true,30]],60])"},
      {"QUELVAN_SIM_FAIL=cuvidCreateDecoder@2", two, 0, 2, R"(["unknown",[[0,true,30],[1,false,0]],30])"},
      {"QUELVAN_SIM_GPUS=0", two, 1, 2, R"(["unknown",[],0])"},
      {"", "--instance-num 1 --codec 0 --input /nonexistent.h264", 0, 2, R"(["unknown",[],0])"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.env, c.args).status, c.plain) << c.env << " " << c.args;
    EXPECT_EQ(run(c.env, c.args + " --strict").status, c.strict) << c.env << " " << c.args;
    const testkit::CommandResult doc = run(c.env, c.args + " --json --strict");
    EXPECT_EQ(doc.status, c.strict) << c.env << " " << c.args;
    EXPECT_EQ(jsoncheck::schemaProblem("vidprobe.v1.schema.json", doc.output), "") << doc.output;
    EXPECT_EQ(jq("[.status, [.instances[] | [.index, .decoder, .frames]], .totals.frames]", doc.output), c.facts)
        << c.env << " " << c.args;
  }
  const testkit::CommandResult doc = run("", two + " --json");
  EXPECT_EQ(jq("[(.totals.fps > 0), (.instances | all(.fps > 0))]", doc.output), "[true,true]");
}

}  // namespace
