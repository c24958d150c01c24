#include <gtest/gtest.h>

#include "enum_device.h"

namespace {

struct NameCase {
    uint32_t deviceId, variantWord, modelFlag, modelCode, subModelCode;
    const char* name;
};

const NameCase kNames[] = {
    {0x0001, 0, 0, 0, 3, "AQ-K10-CD"},
    {0x0001, 0, 0, 0, 4, "AQ-K10"},
    {0x0001, 0, 0, 0, 0, "AQ-K10-CD"},  // zero registers
    {0x0103, 0, 0, 0, 0, "HS-K10X"},
    {0x0210, 0, 1, 0, 0, "PW-K20"},
    {0x0210, 0, 0, 0, 0, "PW-K20OAM"},
    {0x0003, 0xfffffffe, 0, 7, 0, "AQ-K15-C"},
    {0x0003, 1, 0, 10, 0, "AQ-K15-A"},
    {0x0002, 5, 0, 0, 0, "LNC-K10-0"},
    {0x0002, 5, 0, 31, 0, "LNC-K10-1F"},
    {0x0007, 3, 0, 0, 0, ""},
    {0x000B, 0, 0, 29, 0, "LN-SOCKET"},
    {0x000B, 0, 0, 29, 1, "LN-K10"},
    {0x000F, 0, 0, 29, 2, "LN-K5"},
    {0x0002, 0, 0, 0, 0, "LN-K10"},
    {0x0003, 0, 0, 8, 0, "AQ-K15OAM"},
    {0x0007, 0, 0, 16, 0, "AQ-K15OAM-PA"},
    {0x0002, 0, 0, 19, 0, "AQ-K15"},
    {0x0002, 0, 0, 26, 0, "AQ-K15S"},
    {0x0002, 0, 0, 28, 0, "LN-K5-DUO"},
    {0x0002, 0, 0, 6, 0, "LN-6"},
    {0x0002, 0, 0, 30, 0, "LN-1E"},
    {0x0002, 0, 0, 31, 0, "LN-1F"},
    {0x0004, 0, 0, 0, 0, ""},
    {0x0000, 0, 0, 0, 0, ""},
};

TEST(ProductName, FollowsDeviceIdAndModelFields) {
    for (const auto& c : kNames) {
        EXPECT_EQ(getDeviceProductName(c.deviceId, c.variantWord, c.modelFlag, c.modelCode, c.subModelCode), c.name)
            << "device " << c.deviceId << " variant " << c.variantWord << " flag " << c.modelFlag << " model "
            << c.modelCode << " sub " << c.subModelCode;
    }
}

}  // namespace
