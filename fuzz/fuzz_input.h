// What every fuzz target shares: the input as text, and the input cut into pieces at NUL bytes
// (command-line arguments, several values in one input).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::string input_text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

inline std::vector<std::string> input_pieces(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      pieces.emplace_back();
    else
      pieces.back() += static_cast<char>(data[i]);
  }
  return pieces;
}

// Stops the target with a crash that the fuzzer reports, for a broken invariant.
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) __builtin_trap(); \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
