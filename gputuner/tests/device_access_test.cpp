#include <gtest/gtest.h>

#include "device_access.h"
#include "host.h"

namespace {

TEST(CmdResult, KeepsWholeLinesThatFit) {
    struct Case {
        const char* cmd;
        size_t size;
        const char* out;
    };
    const Case cases[] = {
        {"printf 'abc\\ndef\\n'", 64, "abc\ndef\n"},
        {"printf 'abc\\ndef\\n'", 8, "abc\n"},      // the second line would reach the size
        {"printf 'abc\\ndef\\n'", 9, "abc\ndef\n"},
        {"printf 'abcdef\\n'", 4, ""},              // first line larger than the buffer
        {"true", 16, ""},                           // no output: empty, not null
        {"printf 'no newline'", 64, "no newline"},
    };
    for (const auto& c : cases) {
        std::vector<char> out(c.size, 'X');
        ASSERT_EQ(cmdResult(c.cmd, out.data(), c.size), out.data()) << c.cmd;
        EXPECT_STREQ(out.data(), c.out) << c.cmd << " size " << c.size;
    }
}

TEST(Split, KeepsEmptyPieces) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split("0000:00:01.0", ':'), (V{"0000", "00", "01.0"}));
    EXPECT_EQ(split("abc", '/'), (V{"abc"}));
    EXPECT_EQ(split("a/b/", '/'), (V{"a", "b", ""}));
    EXPECT_EQ(split("/a//b", '/'), (V{"", "a", "", "b"}));
    EXPECT_EQ(split("", '/'), (V{""}));
}

TEST(StringToUint32, ParsesHexadecimalText) {
    EXPECT_EQ(stringToUint32_t("0x0210"), 528u);
    EXPECT_EQ(stringToUint32_t("0X7A5C"), 0x7a5cu);
    EXPECT_EQ(stringToUint32_t("  1f zz"), 0x1fu);
    EXPECT_EQ(stringToUint32_t("ffffffff"), 0xffffffffu);
    EXPECT_EQ(stringToUint32_t("zz"), std::nullopt);  // "Invalid hexadecimal string"
    EXPECT_EQ(stringToUint32_t(""), std::nullopt);
}

TEST(ParseHex, NeedsADigitFirst) {
    EXPECT_EQ(parseHex("2810\n"), 0x2810);
    EXPECT_EQ(parseHex(" 1d\n"), 0x1d);
    EXPECT_EQ(parseHex(""), std::nullopt);
    EXPECT_EQ(parseHex("setpci: oops\n"), std::nullopt);
    EXPECT_EQ(parseHex("-1"), std::nullopt);
}

TEST(Commands, OnlyBusIdsReachTheShell) {
    EXPECT_EQ(setpciCommand("0000:3b:00.0", "CAP_EXP.l", true), "setpci -s 0000:3b:00.0 CAP_EXP.l 2>/dev/null");
    EXPECT_EQ(setpciCommand("0000:3b:00.0", "ecap_acs+4.b", false), "setpci -s 0000:3b:00.0 ecap_acs+4.b");
    EXPECT_EQ(lspciDowngradedCommand("0000:3b:00.0"), "lspci -vvvs 0000:3b:00.0 | grep -i downgraded 2>/dev/null");
    for (const char* bad : {"", "0000:3b:00.0;reboot", "0000:3b:00", "$(id):00.0", "0000:3b:0g.0"}) {
        EXPECT_EQ(setpciCommand(bad, "VENDOR_ID", false), "") << bad;
        EXPECT_EQ(lspciDowngradedCommand(bad), "") << bad;
    }
}

TEST(TopologyBusIdSet, CutsTheRootPrefix) {
    EXPECT_EQ(getTopologyBusIdSet("/sys/devices/pci0000:3a/0000:3a:00.0/0000:3b:00.0/0000:3c:08.0/0000:3d:00.0"),
              (BusIdSet{"0000:3a:00.0", "0000:3b:00.0", "0000:3c:08.0", "0000:3d:00.0"}));
    EXPECT_EQ(removeRealpathPrefix("/sys/devices/pci0000:3a/0000:3a:00.0"), "0000:3a:00.0");
    EXPECT_EQ(removeRealpathPrefix("/sys/devices/pci"), "");  // too short
    EXPECT_TRUE(getTopologyBusIdSet("").empty());
}

}  // namespace
