// The command line: per-instance lists, the order rule, and where reading stops.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "options.h"

namespace {

struct Parsed {
    ParseResult result;
    RunConfig config;
    std::string error;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vidprobe");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Parsed p{};
    p.result = parseOptions(static_cast<int>(args.size()), argv.data(), p.config, p.error);
    return p;
}

struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(const RunConfig&)> check;
};

TEST(Options, PerInstanceItemsFollowTheCountInForce) {
    const OptionCase cases[] = {
        {"two HEVC instances",
         {"--instance-num", "2", "--input", "a.bin,b.bin", "--codec", "12,12"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instanceCount, 2u);
             EXPECT_STREQ(c.instances[0].input, "a.bin");
             EXPECT_STREQ(c.instances[1].input, "b.bin");
             EXPECT_EQ(c.instances[0].codec, 12);
             EXPECT_EQ(c.instances[1].codec, 12);
         }},
        {"input before the count is not taken",
         {"--input", "a.bin", "--instance-num", "1"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instanceCount, 1u);
             EXPECT_STREQ(c.instances[0].input, "");
         }},
        {"a single codec item leaves instance 1 at 0",
         {"--instance-num", "2", "--codec", "12"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instances[0].codec, 12);
             EXPECT_EQ(c.instances[1].codec, 0);
         }},
        {"surplus items are ignored",
         {"--instance-num=1", "--bs-size", "4096,8192", "--sclw=640,1"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instances[0].bsSize, 4096);
             EXPECT_EQ(c.instances[1].bsSize, 0);
             EXPECT_EQ(c.instances[0].scaleWidth, 640);
         }},
        {"secondary AXI list read in base 16 when it starts with 0x",
         {"--instance-num", "2", "--secondary-axi", "0x3,5"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instances[0].secondaryAxi, 3u);
             EXPECT_EQ(c.instances[1].secondaryAxi, 5u);
         }},
        {"secondary AXI list in base 10 otherwise",
         {"--instance-num", "2", "--secondary-axi", "10,0x5"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instances[0].secondaryAxi, 10u);
             EXPECT_EQ(c.instances[1].secondaryAxi, 0u);
         }},
        {"flags become 0 or 1",
         {"--instance-num", "3", "--enable-wtl", "5,0,-1", "--pf", "0,7"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instances[0].enableWtl, 1);
             EXPECT_EQ(c.instances[1].enableWtl, 0);
             EXPECT_EQ(c.instances[2].enableWtl, 1);
             EXPECT_EQ(c.instances[1].pf, 1);
         }},
        {"first items of -n and --instance-num, abbreviations, -r, --minor",
         {"-n", "4,9", "--inst", "2,3", "--min", "1", "-r", "--core-num", "9", "--output",
          "x.yuv,y.yuv"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.n, 4);
             EXPECT_EQ(c.instanceCount, 2u);
             EXPECT_EQ(c.minor, 1);
             EXPECT_EQ(c.frameOutput, 1);
             EXPECT_STREQ(c.instances[1].output, "y.yuv");
         }},
        {"an unknown option ends the reading",
         {"--instance-num", "1", "--bogus", "--codec", "12"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.instanceCount, 1u);
             EXPECT_EQ(c.instances[0].codec, 0);
         }},
        {"a missing value ends the reading",
         {"--instance-num", "1", "-r", "--codec"},
         [](const RunConfig& c) {
             EXPECT_EQ(c.frameOutput, 1);
             EXPECT_EQ(c.instances[0].codec, 0);
         }},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Parsed p = parse(c.args);
        ASSERT_EQ(p.result, ParseResult::Run);
        c.check(p.config);
    }
}

TEST(Options, HelpAndLimits) {
    EXPECT_EQ(parse({"--instance-num", "1", "-h", "--bogus"}).result, ParseResult::Help);

    Parsed many = parse({"--instance-num", "257"});
    EXPECT_EQ(many.result, ParseResult::Refused);
    EXPECT_NE(many.error.find("at most 256 instances"), std::string::npos);
    EXPECT_EQ(parse({"--instance-num", "-1"}).result, ParseResult::Refused);
    EXPECT_EQ(parse({"--instance-num", "256"}).result, ParseResult::Run);

    std::string longest(255, 'p');
    Parsed fits = parse({"--instance-num", "1", "--input", longest});
    EXPECT_EQ(fits.result, ParseResult::Run);
    EXPECT_EQ(std::string(fits.config.instances[0].input), longest);
    Parsed tooLong = parse({"--instance-num", "2", "--output", "o," + longest + "p"});
    EXPECT_EQ(tooLong.result, ParseResult::Refused);
    EXPECT_NE(tooLong.error.find("output path longer than 255 bytes"), std::string::npos);
}

} // namespace
