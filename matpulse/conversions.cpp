#include "conversions.h"

#include <cmath>
#include <cstring>

namespace matpulse {

namespace {

uint32_t bits_of(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

float float_of(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// Shifts right by `shift` bits, rounding to nearest, ties to even.
uint32_t shift_round_even(uint32_t value, int shift) {
  uint32_t kept = value >> shift;
  uint32_t rest = value & ((1u << shift) - 1);
  uint32_t half = 1u << (shift - 1);
  if (rest > half || (rest == half && (kept & 1))) ++kept;
  return kept;
}

}  // namespace

uint16_t float_to_half(float value) {
  if (std::isnan(value)) return 0x7fff;
  uint32_t u = bits_of(value);
  uint16_t sign = static_cast<uint16_t>((u >> 16) & 0x8000);
  uint32_t mag = u & 0x7fffffff;
  if (mag >= 0x477ff000) return sign | 0x7c00;  // 65520 and above, infinity included
  if (mag <= 0x33000000) return sign;           // 2^-25 and below
  int exp = static_cast<int>(mag >> 23) - 127;
  uint32_t mant = (mag & 0x7fffff) | 0x800000;
  if (exp < -14) {
    // Subnormal half: units of 2^-24; a carry into 0x400 yields the smallest normal.
    return sign | static_cast<uint16_t>(shift_round_even(mant, -exp - 1));
  }
  // Normal half; a mantissa carry moves into the exponent as it should.
  uint32_t h = (static_cast<uint32_t>(exp + 15) << 10) | ((mant & 0x7fffff) >> 13);
  uint32_t rest = mant & 0x1fff;
  if (rest > 0x1000 || (rest == 0x1000 && (h & 1))) ++h;
  return sign | static_cast<uint16_t>(h);
}

uint16_t double_to_bf16(double value) {
  if (std::isnan(value)) return 0x7fff;
  float f = static_cast<float>(value);
  uint32_t u = bits_of(f);
  if (static_cast<double>(f) != value) {
    // Round to odd so that the second rounding cannot create a false tie.
    if (std::fabs(static_cast<double>(f)) > std::fabs(value)) --u;
    u |= 1;
  }
  uint32_t upper = u >> 16;
  uint32_t lower = u & 0xffff;
  if (lower > 0x8000 || (lower == 0x8000 && (upper & 1))) ++upper;
  return static_cast<uint16_t>(upper);
}

float half_to_float(uint16_t bits) {
  uint32_t sign = static_cast<uint32_t>(bits & 0x8000) << 16;
  uint32_t exp = (bits >> 10) & 0x1f;
  uint32_t mant = bits & 0x3ff;
  if (exp == 0x1f) return float_of(sign | 0x7f800000 | (mant << 13));
  if (exp != 0) return float_of(sign | ((exp + 112) << 23) | (mant << 13));
  float sub = std::ldexp(static_cast<float>(mant), -24);
  return sign ? -sub : sub;
}

float bf16_to_float(uint16_t bits) { return float_of(static_cast<uint32_t>(bits) << 16); }

}  // namespace matpulse
