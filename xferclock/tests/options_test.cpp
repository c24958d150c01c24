#include "options.h"

#include <gtest/gtest.h>

namespace {

const std::vector<int64_t> kDefaultSizes = {4096, 8192, 16384, 32768, 65536, 131072, 262144};

struct Case {
    const char* name;
    std::vector<std::string> args;  // after the program name
    bool run;
    int exit_code;
    std::string message;
    std::vector<int64_t> sizes;
    std::vector<int> devices;
    int mode;
    int repeats;
};

const Case kCases[] = {
    {"defaults", {}, true, 0, "", kDefaultSizes, {0, 1, 2}, 0, 100},
    {"factor", {"--start", "4kb", "--end", "64kb", "--factor", "4"}, true, 0, "",
     {4096, 16384, 65536}, {0, 1, 2}, 0, 100},
    {"increment_includes_end", {"--start", "4kb", "--end", "20kb", "--increment", "8kb"}, true, 0,
     "", {4096, 12288, 20480}, {0, 1, 2}, 0, 100},
    {"factor_wins_over_increment",
     {"--increment", "1kb", "--start", "1mb", "--end", "4mb", "--factor", "2"}, true, 0, "",
     {1048576, 2097152, 4194304}, {0, 1, 2}, 0, 100},
    {"start_alone_keeps_defaults", {"--start", "8kb"}, true, 0, "", kDefaultSizes, {0, 1, 2}, 0, 100},
    {"units", {"--start", "1gb", "--end", "1gb", "--increment", "1mb"}, true, 0, "", {1073741824},
     {0, 1, 2}, 0, 100},
    {"device_order_and_repeat", {"--device", "1,0", "--device", "2,2"}, true, 0, "", kDefaultSizes,
     {2, 2}, 0, 100},
    {"device_empty_items_skipped", {"--device", "1,,0,"}, true, 0, "", kDefaultSizes, {1, 0}, 0, 100},
    {"mode_d2h_then_h2d", {"--mode", "--d2h"}, true, 0, "", kDefaultSizes, {0, 1, 2}, 1, 100},
    {"mode_without_dashes_ignored", {"--mode", "d2h"}, true, 0, "", kDefaultSizes, {0, 1, 2}, 0, 100},
    {"repeats", {"--repeats", "7", "unknown", "args"}, true, 0, "", kDefaultSizes, {0, 1, 2}, 0, 7},
    // A value that is itself an option name acts as that option.
    {"value_is_option", {"--mode", "--repeats", "3"}, true, 0, "", kDefaultSizes, {0, 1, 2}, 0, 3},

    {"error_before_version", {"--repeats", "0x", "--version"}, false, 2,
     "Invalid value '0x' of --repeats: expected a whole number.\n", {}, {}, 0, 0},
    {"version_after_options", {"--repeats", "5", "--version"}, false, 0, "Version: 0.0.1\n", {}, {},
     0, 0},
    {"device_out_of_range", {"--device", "0,3"}, false, 0, "device_index must >= 0 and < 3 !!!\n",
     {}, {}, 0, 0},
    {"device_negative", {"--device", "-1"}, false, 0, "device_index must >= 0 and < 3 !!!\n", {},
     {}, 0, 0},
    {"device_empty", {"--device", ","}, false, 0, "--device must specify devices.\n", {}, {}, 0, 0},
    {"device_not_number", {"--device", "0,x"}, false, 2, "Invalid device index 'x' in --device.\n",
     {}, {}, 0, 0},
    {"upper_case_unit", {"--start", "4KB"}, false, 0, "Input size must add kb/mb/gb !!!\n", {}, {},
     0, 0},
    {"zero_size", {"--end", "0mb"}, false, 0, "Input items must > 0 !!!\n", {}, {}, 0, 0},
    {"size_short", {"--start", "4"}, false, 2,
     "Invalid value '4' of --start: expected a count followed by kb, mb or gb.\n", {}, {}, 0, 0},
    {"size_not_number", {"--increment", "4.5kb"}, false, 2,
     "Invalid value '4.5kb' of --increment: expected a whole number followed by kb, mb or gb.\n",
     {}, {}, 0, 0},
    {"size_overflow", {"--end", "99999999999gb"}, false, 2,
     "Invalid value '99999999999gb' of --end: too large.\n", {}, {}, 0, 0},
    {"factor_zero", {"--factor", "0"}, false, 0, "Input items must > 0 !!!\n", {}, {}, 0, 0},
    {"factor_one", {"--factor", "1"}, false, 2,
     "--factor must be at least 2: a factor of 1 never reaches the end size.\n", {}, {}, 0, 0},
    {"factor_without_start", {"--factor", "2", "--end", "8kb"}, false, 0,
     "factor, start, end must be input at same time\n", {}, {}, 0, 0},
    {"too_many_sizes", {"--start", "1kb", "--end", "8000000000gb", "--increment", "1kb"}, false, 2,
     "--start, --end and --increment give more than 4096 transfer sizes.\n", {}, {}, 0, 0},
    {"increment_without_end", {"--increment", "2kb", "--start", "8kb"}, false, 0,
     "increment, start, end must be input at same time\n", {}, {}, 0, 0},
    {"repeats_zero", {"--repeats", "0"}, false, 0, "Input repeats must > 0 !!!\n", {}, {}, 0, 0},
    {"repeats_too_large", {"--repeats", "3000000000"}, false, 2,
     "Invalid value '3000000000' of --repeats: expected a whole number.\n", {}, {}, 0, 0},
    {"value_missing", {"--start", "4kb", "--end"}, false, 2, "Option --end needs a value.\n", {},
     {}, 0, 0},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ParseArguments : public testing::TestWithParam<Case> {};

TEST_P(ParseArguments, Case)
{
    const Case& c = GetParam();
    std::vector<std::string> args = {"xferclock"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    XferSettings settings;
    ParseOutcome outcome = parse_arguments(args, [] { return 3; }, settings);
    EXPECT_EQ(outcome.run, c.run);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_EQ(outcome.message, c.message);
    if (c.run) {
        EXPECT_EQ(settings.sizes, c.sizes);
        EXPECT_EQ(settings.devices, c.devices);
        EXPECT_EQ(settings.mode, c.mode);
        EXPECT_EQ(settings.repeats, c.repeats);
    }
}

INSTANTIATE_TEST_SUITE_P(Xferclock, ParseArguments, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Argument errors end the run before any GPU work, so the GPU count is not even asked.
TEST(ParseArgumentsGpu, ErrorsNeedNoGpu)
{
    XferSettings settings;
    bool asked = false;
    ParseOutcome outcome = parse_arguments({"xferclock", "--start", "4KB", "--version"},
                                           [&] { asked = true; return 0; }, settings);
    EXPECT_FALSE(outcome.run);
    EXPECT_FALSE(asked);
}

}  // namespace
