#include "conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

using matpulse::bf16_to_float;
using matpulse::double_to_bf16;
using matpulse::float_to_half;
using matpulse::half_to_float;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Conversions, SingleToHalf) {
  struct Case {
    float in;
    uint16_t out;
  };
  const Case cases[] = {
      {0.0f, 0x0000},
      {-0.0f, 0x8000},
      {1.0f, 0x3c00},
      {-2.0f, 0xc000},
      {65504.0f, 0x7bff},
      {65519.0f, 0x7bff},                       // just below the rounding boundary
      {65520.0f, 0x7c00},                       // first value that rounds to infinity
      {-65520.0f, 0xfc00},
      {static_cast<float>(kInf), 0x7c00},
      {static_cast<float>(-kInf), 0xfc00},
      {static_cast<float>(kNaN), 0x7fff},
      {-static_cast<float>(kNaN), 0x7fff},
      {std::ldexp(1.0f, -14), 0x0400},          // smallest normal
      {std::ldexp(1.0f, -24), 0x0001},          // smallest subnormal
      {std::ldexp(1.0f, -25), 0x0000},          // tie between 0 and 2^-24: even is 0
      {-std::ldexp(1.0f, -25), 0x8000},
      {std::ldexp(1.5f, -25), 0x0001},          // above the tie
      {std::ldexp(3.0f, -25), 0x0002},          // 1.5 units: tie, even is 2
      {std::ldexp(5.0f, -25), 0x0002},          // 2.5 units: tie, even is 2
      {std::ldexp(1023.0f, -24), 0x03ff},       // largest subnormal
      {std::ldexp(2047.0f, -25), 0x0400},       // rounds up into the smallest normal
      {1.0f + std::ldexp(1.0f, -11), 0x3c00},   // tie, mantissa even stays
      {1.0f + std::ldexp(3.0f, -11), 0x3c02},   // tie, odd mantissa rounds up
      {1.0f + std::ldexp(1.0f, -11) + std::ldexp(1.0f, -20), 0x3c01},
      {0.1f, 0x2e66},
  };
  for (const Case& c : cases) EXPECT_EQ(float_to_half(c.in), c.out) << "input " << c.in;
}

TEST(Conversions, HalfToSingleIsExactInverse) {
  for (uint32_t bits = 0; bits <= 0xffff; ++bits) {
    uint16_t h = static_cast<uint16_t>(bits);
    float f = half_to_float(h);
    if ((h & 0x7c00) == 0x7c00 && (h & 0x3ff)) {
      EXPECT_TRUE(std::isnan(f));
      continue;
    }
    ASSERT_EQ(float_to_half(f), h) << std::hex << bits;
  }
  EXPECT_EQ(half_to_float(0x0001), std::ldexp(1.0f, -24));
  EXPECT_TRUE(std::signbit(half_to_float(0x8000)));
}

TEST(Conversions, DoubleToBfloat16) {
  struct Case {
    double in;
    uint16_t out;
  };
  const Case cases[] = {
      {0.0, 0x0000},
      {-0.0, 0x8000},
      {1.0, 0x3f80},
      {-1.0, 0xbf80},
      {1.0 + std::ldexp(1.0, -8), 0x3f80},                      // tie, even stays
      {1.0 + std::ldexp(3.0, -8), 0x3f82},                      // tie, odd rounds up
      {1.0 + std::ldexp(1.0, -8) + std::ldexp(1.0, -40), 0x3f81},  // a single would round this to the tie
      {1.0 + std::ldexp(1.0, -8) - std::ldexp(1.0, -40), 0x3f80},
      {-(1.0 + std::ldexp(1.0, -8) + std::ldexp(1.0, -40)), 0xbf81},
      {kInf, 0x7f80},
      {-kInf, 0xff80},
      {1e39, 0x7f80},  // beyond the single range
      {kNaN, 0x7fff},
      {-kNaN, 0x7fff},
      {1e-50, 0x0000},
      {-1e-50, 0x8000},
      {3.0, 0x4040},
  };
  for (const Case& c : cases) EXPECT_EQ(double_to_bf16(c.in), c.out) << "input " << c.in;
  EXPECT_EQ(bf16_to_float(0x3f81), 1.0f + std::ldexp(1.0f, -7));
  EXPECT_EQ(bf16_to_float(0xc040), -3.0f);
}

}  // namespace
