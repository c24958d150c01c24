// The built program end to end on streams made by the ffmpeg program, through the emulated GPU
// platform and its decoder library.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

const std::string kStreams = VIDEO_STREAMS_DIR;

struct Stream {
    const char* file;
    int codec;
    long frames;
};
const Stream kH264{"h264.h264", 0, 30};
const Stream kHevc{"hevc.hevc", 12, 30};
const Stream kVp9{"vp9.ivf", 13, 20};

using Result = testkit::CommandResult;  // standard output and error together

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vidprobe_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // Runs vidprobe in the test's directory; env is prepended as VAR=value words.
    Result run(const std::string& args, const std::string& env = "") {
        std::string cmd = "cd " + dir + " && " + env + " timeout 120 " + VIDPROBE_BIN + " " +
                          args + " 2>&1";
        return testkit::run_command(cmd);
    }

    static std::string streamArgs(const std::vector<Stream>& streams) {
        std::string inputs, codecs;
        for (const Stream& s : streams) {
            if (!inputs.empty()) {
                inputs += ',';
                codecs += ',';
            }
            inputs += kStreams + "/" + s.file;
            codecs += std::to_string(s.codec);
        }
        return "--instance-num " + std::to_string(streams.size()) + " --input " + inputs +
               " --codec " + codecs;
    }

    static long totalFrames(const std::string& output) {
        size_t at = output.find("total_frames: ");
        return at == std::string::npos ? -1 : std::atol(output.c_str() + at + 14);
    }

    std::string dir;
};

TEST_F(RunTest, InstancesDecodeEveryFrameAndWriteFfmpegsPixels) {
    const std::vector<std::vector<Stream>> runs = {
        {kH264},
        {kH264, kHevc},
        {kH264, kHevc, kVp9, kH264},
    };
    for (const std::vector<Stream>& streams : runs) {
        SCOPED_TRACE(std::to_string(streams.size()) + " instances");
        Result r = run(streamArgs(streams) + " -r");
        ASSERT_EQ(r.status, 0) << r.output;
        long expected = 0;
        for (const Stream& s : streams) expected += s.frames;
        EXPECT_EQ(totalFrames(r.output), expected) << r.output;
        EXPECT_NE(r.output.find("GPU in use: "), std::string::npos);
        EXPECT_NE(r.output.find("Total fps: "), std::string::npos);
        EXPECT_NE(r.output.find("finished decode, destory context.\n"), std::string::npos);
        for (size_t k = 0; k < streams.size(); ++k) {
            std::string frames = readFile(dir + "/test_" + std::to_string(k) + ".rgb");
            EXPECT_EQ(frames.size(), size_t(streams[k].frames) * 160 * 120 * 3) << k;
            EXPECT_TRUE(frames == readFile(kStreams + "/" + streams[k].file + ".rgb"))
                << "instance " << k << " differs from ffmpeg's RGB24 decode";
        }
    }
}

TEST_F(RunTest, WithoutFrameOutputNothingIsWritten) {
    Result r = run(streamArgs({kVp9, kHevc}));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(totalFrames(r.output), 50) << r.output;
    struct stat st;
    EXPECT_NE(stat((dir + "/test_0.rgb").c_str(), &st), 0);
}

TEST_F(RunTest, FailedFirstCreationLeavesTheSecondRunning) {
    Result r = run(streamArgs({kH264, kHevc}) + " -r", "QUELVAN_SIM_FAIL=cuvidCreateDecoder@1");
    ASSERT_EQ(r.status, 0) << r.output;
    size_t first = r.output.find("Failed to cuvidCreateDecoder ret: ");
    ASSERT_NE(first, std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Failed to cuvidCreateDecoder", first + 1), std::string::npos);
    EXPECT_EQ(totalFrames(r.output), 30) << r.output;
    EXPECT_TRUE(readFile(dir + "/test_1.rgb") == readFile(kStreams + "/hevc.hevc.rgb"));
    EXPECT_EQ(readFile(dir + "/test_0.rgb").size(), 0u);
}

TEST_F(RunTest, BackPressureIsRetriedUntilEveryPacketIsTaken) {
    // A one-byte queue takes one 256 KiB packet at a time; the others are refused with 600.
    Result r = run("--instance-num 1 --input " + kStreams + "/big.h264 --bs-size 1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(totalFrames(r.output), 12) << r.output;
}

TEST_F(RunTest, DamagedStreamsEndTheRun) {
    const Stream damaged[] = {
        {"truncated.h264", 0, 0}, {"corrupt.h264", 0, 0}, {"garbage.bin", 12, 0},
        {"garbage.bin", 13, 0},   {"truncated.ivf", 13, 0},
    };
    for (const Stream& s : damaged) {
        SCOPED_TRACE(s.file);
        Result r = run(streamArgs({s}));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("finished decode, destory context.\n"), std::string::npos)
            << r.output;
    }
}

TEST_F(RunTest, EarlyEndsAndRefusals) {
    struct Case {
        const char* name;
        std::string args;
        std::string env;
        int status;
        std::string expected; // a piece of the output
    };
    const std::string h264 = kStreams + "/h264.h264";
    const Case cases[] = {
        {"missing input", "--instance-num 1 --input " + dir + "/none.h264", "", 0,
         "decode file does not exists.\n"},
        {"input given before the count", "--input " + h264 + " --instance-num 1", "", 0,
         "decode file does not exists.\n"},
        {"no instances", "--instance-num 0", "", 0,
         "GPU in use: Quelvan emulated GPU 0\nfinished decode, destory context.\n"},
        {"too many instances", "--instance-num 300", "", 1, "at most 256 instances"},
        {"failed driver call", "--instance-num 1 --input " + h264, "QUELVAN_SIM_FAIL=cuInit", 1,
         "checkCudaErrors() Driver API error = "},
        {"failed frame copy", "-r --instance-num 1 --input " + h264,
         "QUELVAN_SIM_FAIL=cuMemcpyDtoH_v2@3", 1, "checkCudaErrors() Driver API error = "},
        {"help", "-h --bogus", "", 0,
         "------------------------------------------------------------------------------\n"
         "vidprobe(API v5.5.72)\n\tSample program decoder\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = run(c.args, c.env);
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << r.output;
    }
    EXPECT_EQ(run("--instance-num 0").output.find("total_frames"), std::string::npos);
    std::string failed = run("--instance-num 1 --input " + h264, "QUELVAN_SIM_FAIL=cuInit").output;
    EXPECT_NE(failed.find("from file <"), std::string::npos) << failed;
    EXPECT_NE(failed.find("main.cpp>, line "), std::string::npos) << failed;
}

TEST_F(RunTest, UnwritableFrameFileIsRefusedBeforeDecoding) {
    ASSERT_EQ(mkdir((dir + "/test_0.rgb").c_str(), 0755), 0);
    Result r = run("-r --instance-num 1 --input " + kStreams + "/h264.h264");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("cannot open frame file test_0.rgb"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("GPU in use"), std::string::npos) << r.output;
}

} // namespace
