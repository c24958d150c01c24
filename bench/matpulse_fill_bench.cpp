// Fill rate of matpulse per element type, one thread, against a bare loop of the same
// generator, distribution and element conversion in the same run.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "conversions.h"
#include "fill.h"
#include "params.h"

namespace {

constexpr unsigned kCount = 1u << 24;

template <typename F>
double best_rate(F&& f) {
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::max(best, kCount / std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

template <typename T, typename Store>
void run(uint32_t type, const char* name, Store store) {
  data_type = type;
  std::vector<T> out(kCount);
  double fill = best_rate([&] { fill_matrix(out.data(), kCount); });
  double lo, hi;
  get_range_start_and_end(lo, hi);
  double bare = best_rate([&] {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> dist(lo, hi);
    for (unsigned i = 0; i < kCount; ++i) out[i] = store(dist(gen));
  });
  std::printf("%-5s %8.1f M/s %8.1f M/s %6.2f\n", name, fill * 1e-6, bare * 1e-6, fill / bare);
}

}  // namespace

int main() {
  nthreads = 1;
  std::printf("%-5s %12s %12s %6s\n", "type", "fill", "bare loop", "ratio");
  run<float>(kFP32, "FP32", [](double v) { return static_cast<float>(v); });
  run<half_t>(kFP16, "FP16", [](double v) { return half_t{matpulse::float_to_half(static_cast<float>(v))}; });
  run<int8_t>(kINT8, "INT8", [](double v) { return static_cast<int8_t>(v); });
  run<bf16_t>(kBF16, "BF16", [](double v) { return bf16_t{matpulse::double_to_bf16(v)}; });
  run<double>(kFP64, "FP64", [](double v) { return v; });
  return 0;
}
