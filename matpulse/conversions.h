// Host-side element formats and their conversions. Half and bfloat16 are held as raw 16-bit
// patterns so the host never depends on a compiler's or toolkit's 16-bit float support.
#pragma once

#include <cstdint>

// Namespaced: the emulated platform library carries global functions of the same names.
namespace matpulse {

struct half_t {
  uint16_t bits;
};
struct bf16_t {
  uint16_t bits;
};

// IEEE binary16, round to nearest even; any NaN becomes 0x7fff.
uint16_t float_to_half(float value);
// Correctly rounded (nearest even) through a round-to-odd single; any NaN becomes 0x7fff.
uint16_t double_to_bf16(double value);
float half_to_float(uint16_t bits);
float bf16_to_float(uint16_t bits);

// Exact widening of every host element type.
inline double to_double(float v) { return v; }
inline double to_double(double v) { return v; }
inline double to_double(int8_t v) { return v; }
inline double to_double(int32_t v) { return v; }
inline double to_double(half_t v) { return half_to_float(v.bits); }
inline double to_double(bf16_t v) { return bf16_to_float(v.bits); }

}  // namespace matpulse

using matpulse::bf16_t;
using matpulse::half_t;
using matpulse::to_double;
