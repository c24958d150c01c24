// Runs the emulated-platform build of xferclock end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

struct RunResult {
    int exit_code = -1;
    std::string output;
};

RunResult run(const std::string& env, const std::string& args)
{
    testkit::CommandResult r = testkit::run_command("env " + env + " " XFERCLOCK_BIN " " + args + " 2>&1");
    return {r.status, r.output};
}

struct Line {
    std::string direction;
    long long size;
    int device;
    double gpu_us, host_us;
};

std::vector<Line> result_lines(const std::string& output)
{
    std::vector<Line> lines;
    std::istringstream in(output);
    std::string text;
    while (std::getline(in, text)) {
        char direction[4] = {};
        Line line{};
        int used = 0;
        if (std::sscanf(text.c_str(),
                        "%3s Transfer Size=%lld (byte)  Device=%d GPU and CPU Latencies(us): %lf %lf%n",
                        direction, &line.size, &line.device, &line.gpu_us, &line.host_us, &used) == 5 &&
            size_t(used) == text.size()) {
            line.direction = direction;
            lines.push_back(line);
        }
    }
    return lines;
}

// The source line of the first call of `api` in the program, as the failure line names it.
int source_line(const std::string& api)
{
    std::ifstream source(XFERCLOCK_SOURCE);
    std::string text;
    for (int number = 1; std::getline(source, text); ++number)
        if (text.find(api + "(") != std::string::npos && text.find("CHECK_CUDA") != std::string::npos)
            return number;
    return -1;
}

const long long kDefaultSizes[] = {4096, 8192, 16384, 32768, 65536, 131072, 262144};

TEST(XferclockRun, DefaultsOnOneGpu)
{
    RunResult r = run("QUELVAN_SIM_GPUS=1", "");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(r.output.rfind("[Xferclock Test]\n\nTest Results:\n", 0), 0u) << r.output;
    EXPECT_EQ(r.output.substr(r.output.size() - 2), "\n\n");
    std::vector<Line> lines = result_lines(r.output);
    ASSERT_EQ(lines.size(), 7u) << r.output;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].direction, "H2D");
        EXPECT_EQ(lines[i].size, kDefaultSizes[i]);
        EXPECT_EQ(lines[i].device, 0);
        EXPECT_GT(lines[i].gpu_us, 0);
        EXPECT_GT(lines[i].host_us, 0);
    }
    // 64 times the bytes cannot copy faster than the smallest size.
    EXPECT_GT(lines[6].gpu_us, lines[0].gpu_us);
    EXPECT_GT(lines[6].host_us, lines[0].host_us);
}

struct DeviceCase {
    const char* name;
    const char* gpus;
    const char* args;
    const char* direction;
    std::vector<long long> sizes;
    std::vector<int> devices;  // per size, in report order
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << c.name; }

class XferclockDevices : public testing::TestWithParam<DeviceCase> {};

TEST_P(XferclockDevices, ReportsEveryDevicePerSize)
{
    const DeviceCase& c = GetParam();
    RunResult r = run(std::string("QUELVAN_SIM_GPUS=") + c.gpus, c.args);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    std::vector<Line> lines = result_lines(r.output);
    ASSERT_EQ(lines.size(), c.sizes.size() * c.devices.size()) << r.output;
    for (size_t s = 0; s < c.sizes.size(); ++s) {
        for (size_t d = 0; d < c.devices.size(); ++d) {
            const Line& line = lines[s * c.devices.size() + d];
            EXPECT_EQ(line.direction, c.direction);
            EXPECT_EQ(line.size, c.sizes[s]);
            EXPECT_EQ(line.device, c.devices[d]);
            EXPECT_GT(line.gpu_us, 0);
            EXPECT_GT(line.host_us, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Xferclock, XferclockDevices,
    testing::Values(
        DeviceCase{"three_gpus", "3", "--repeats 5", "H2D",
                   {4096, 8192, 16384, 32768, 65536, 131072, 262144}, {0, 1, 2}},
        DeviceCase{"reversed_d2h", "3", "--device 1,0 --mode --d2h --start 4kb --end 64kb --factor 4",
                   "D2H", {4096, 16384, 65536}, {1, 0}},
        DeviceCase{"same_gpu_twice", "1", "--device 0,0 --start 4kb --end 20kb --increment 8kb",
                   "H2D", {4096, 12288, 20480}, {0, 0}}),
    [](const testing::TestParamInfo<DeviceCase>& info) { return info.param.name; });

TEST(XferclockRun, ArgumentErrorComesBeforeGpuWork)
{
    // No GPU at all: the argument message still comes first, and nothing else is printed.
    RunResult r = run("QUELVAN_SIM_GPUS=0", "--repeats 0");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, "Input repeats must > 0 !!!\n");
}

struct FailureCase {
    const char* name;
    const char* env;
    const char* api;  // the call whose line the failure names
    const char* text;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class XferclockFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(XferclockFailure, PrintsFailureLineAndExitsOne)
{
    const FailureCase& c = GetParam();
    RunResult r = run(std::string("QUELVAN_SIM_GPUS=2 ") + c.env, "--repeats 3");
    int line = source_line(c.api);
    ASSERT_GT(line, 0);
    std::string expected = "Cuda failure xferclock.cpp:" + std::to_string(line) + ": '" + c.text + "'\n";
    EXPECT_EQ(r.exit_code, 1);
    ASSERT_GE(r.output.size(), expected.size()) << r.output;
    EXPECT_EQ(r.output.substr(r.output.size() - expected.size()), expected) << r.output;
    EXPECT_EQ(r.output.find("Test Results"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Xferclock, XferclockFailure,
    testing::Values(
        FailureCase{"malloc_host", "QUELVAN_SIM_FAIL=cudaMallocHost@3", "cudaMallocHost", "out of memory"},
        FailureCase{"memcpy_async", "QUELVAN_SIM_FAIL=cudaMemcpyAsync@5", "cudaMemcpyAsync", "unknown error"},
        FailureCase{"stream_create", "QUELVAN_SIM_FAIL=cudaStreamCreateWithFlags@2",
                    "cudaStreamCreateWithFlags", "unknown error"},
        FailureCase{"no_gpu", "QUELVAN_SIM_GPUS=0", "cudaGetDeviceCount",
                    "no CUDA-capable device is detected"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
