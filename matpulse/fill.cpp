#include "fill.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <type_traits>
#include <vector>

#include "conversions.h"
#include "params.h"

namespace {

template <typename T>
T store(double v) {
  if constexpr (std::is_same_v<T, float>) return static_cast<float>(v);
  if constexpr (std::is_same_v<T, double>) return v;
  if constexpr (std::is_same_v<T, half_t>) return half_t{matpulse::float_to_half(static_cast<float>(v))};
  if constexpr (std::is_same_v<T, bf16_t>) return bf16_t{matpulse::double_to_bf16(v)};
  // A --limit beyond the byte range must not wrap around: truncate, then saturate.
  if constexpr (std::is_same_v<T, int8_t>) return static_cast<int8_t>(v >= 127.0 ? 127 : v <= -128.0 ? -128 : static_cast<int>(v));
}

}  // namespace

void get_range_start_and_end(double& lo, double& hi) {
  if (limit_val > 0) {
    lo = allow_neg ? -static_cast<double>(limit_val) : 1.0;
    hi = limit_val;
  } else if (data_type == kINT8) {
    lo = allow_neg ? -128.0 : 1.0;
    hi = 127.0;
  } else {
    lo = allow_neg ? -4.0 : static_cast<double>(0.1f);
    hi = 4.0;
  }
}

template <typename T>
void fill_part(void* data, unsigned start, unsigned len, int seed) {
  T* out = static_cast<T*>(data) + start;
  std::mt19937 gen(static_cast<uint32_t>(seed));
  if constexpr (std::is_same_v<T, int8_t>) {
    if (normal_dis) {
      std::normal_distribution<double> dist(0.0, 51.0);
      for (unsigned i = 0; i < len; ++i) {
        float v = rintf(static_cast<float>(dist(gen)));
        out[i] = static_cast<int8_t>(std::clamp(v, -128.0f, 127.0f));
      }
      return;
    }
  }
  if (device_type == kCC71 && !(limit_val > 0)) {
    std::memset(static_cast<void*>(out), 0, sizeof(T) * len);
    return;
  }
  double lo, hi;
  get_range_start_and_end(lo, hi);
  // --limit below 1 without --neg gives lo > hi; the draw still lies between the two.
  std::uniform_real_distribution<double> dist(std::min(lo, hi), std::max(lo, hi));
  for (unsigned i = 0; i < len; ++i) out[i] = store<T>(dist(gen));
}

template void fill_part<float>(void*, unsigned, unsigned, int);
template void fill_part<half_t>(void*, unsigned, unsigned, int);
template void fill_part<int8_t>(void*, unsigned, unsigned, int);
template void fill_part<bf16_t>(void*, unsigned, unsigned, int);
template void fill_part<double>(void*, unsigned, unsigned, int);

void fill_matrix_worker(void* data, unsigned start, unsigned len, int seed) {
  switch (data_type) {
    case kFP32: fill_part<float>(data, start, len, seed); break;
    case kFP16: fill_part<half_t>(data, start, len, seed); break;
    case kINT8: fill_part<int8_t>(data, start, len, seed); break;
    case kBF16: fill_part<bf16_t>(data, start, len, seed); break;
    case kFP64: fill_part<double>(data, start, len, seed); break;
  }
}

void fill_matrix(void* data, unsigned count) {
  unsigned threads = static_cast<unsigned>(std::max(nthreads, 1));
  unsigned chunk = (count + threads - 1) / threads;
  std::random_device device;
  std::vector<std::thread> pool;
  unsigned start = 0, remaining = count;
  for (unsigned i = 0; i < threads; ++i) {
    unsigned len = std::min(chunk, remaining);
    int seed = static_cast<int>(device());
    pool.emplace_back(fill_matrix_worker, data, start, len, seed);
    start += len;
    remaining -= len;
  }
  for (auto& t : pool) t.join();
}
