// GFLOP/s of matpulse's host reference (mul_thread_res) against OpenBLAS dgemm, same operands,
// sizes and thread count, in one run. Usage: matpulse_reference_bench [threads] [size...]
#include <cblas.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "params.h"
#include "reference.h"

extern "C" void openblas_set_num_threads(int);

namespace {

template <typename F>
double best_seconds(F&& f, int reps) {
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int threads = argc > 1 ? std::atoi(argv[1]) : static_cast<int>(std::thread::hardware_concurrency());
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {512, 1024, 2048};
  nthreads = threads;
  openblas_set_num_threads(threads);
  std::printf("threads %d\n%6s %14s %14s %7s %12s\n", threads, "size", "reference", "dgemm", "ratio", "max |diff|");
  for (int n : sizes) {
    size_t count = static_cast<size_t>(n) * n;
    std::vector<double> a(count), b(count), c(count), d(count);  // a row-major, b column-major
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> dist(-4.0, 4.0);
    for (auto* v : {&a, &b})
      for (double& x : *v) x = dist(gen);
    auto reference = [&] { mul_thread_res(n, n, n, a.data(), n, b.data(), n, c.data(), n); };
    auto dgemm = [&] {
      cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans, n, n, n, 1.0, a.data(), n, b.data(), n, 0.0, d.data(), n);
    };
    // OpenBLAS's pool threads keep spinning on the cores for a while after each dgemm, and the
    // first calls of a process pay for waking idle cores; either would be charged to the
    // reference. So the reference warms up untimed and runs first, and dgemm's spinning is left
    // to die down before the next size.
    auto warm_start = std::chrono::steady_clock::now();
    do reference();
    while (std::chrono::steady_clock::now() - warm_start < std::chrono::milliseconds(300));
    int reps = n <= 1024 ? 3 : 1;
    double ref_s = best_seconds(reference, reps);
    dgemm();
    double blas_s = best_seconds(dgemm, reps);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double diff = 0;
    for (size_t i = 0; i < count; ++i) diff = std::max(diff, std::fabs(c[i] - d[i]));
    double flops = 2.0 * n * n * n;
    std::printf("%6d %9.1f GF/s %9.1f GF/s %7.2f %12.3g\n", n, flops / ref_s * 1e-9, flops / blas_s * 1e-9,
                blas_s / ref_s, diff);
  }
  return 0;
}
