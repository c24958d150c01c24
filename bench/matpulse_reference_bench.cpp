// GFLOP/s of matpulse's host reference against OpenBLAS dgemm, same operands, sizes and thread
// count, in one run, the two timed in turn. Usage: matpulse_reference_bench [threads] [shape...]
// where a shape is n (n x n x n, FP64 operands) or MxNxK (FP32 operands, read by the reference as
// a verified run stores them, and given to dgemm widened to double).
#include <cblas.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "params.h"
#include "reference.h"

extern "C" void openblas_set_num_threads(int);

namespace {

struct Shape {
  int m, n, k;
  bool fp32;
};

Shape parse_shape(const std::string& text) {
  int m = 0, n = 0, k = 0;
  if (std::sscanf(text.c_str(), "%dx%dx%d", &m, &n, &k) == 3) return {m, n, k, true};
  int s = std::atoi(text.c_str());
  return {s, s, s, false};
}

template <typename F>
double seconds(F&& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  int threads = argc > 1 ? std::atoi(argv[1]) : static_cast<int>(std::thread::hardware_concurrency());
  std::vector<Shape> shapes;
  for (int i = 2; i < argc; ++i) shapes.push_back(parse_shape(argv[i]));
  if (shapes.empty()) shapes = {parse_shape("1024"), parse_shape("2048")};
  nthreads = threads;
  alpha = 1.0f;
  beta = 0.0f;
  openblas_set_num_threads(threads);
  std::printf("threads %d, best of the turns\n%-17s %14s %14s %7s %12s\n", threads, "M x N x K", "reference", "dgemm",
              "ratio", "max |diff|");
  for (const Shape& s : shapes) {
    size_t a_count = static_cast<size_t>(s.m) * s.k, b_count = static_cast<size_t>(s.k) * s.n,
           c_count = static_cast<size_t>(s.m) * s.n;
    // Both column-major; the reference reads the FP32 ones where the shape asks for them.
    std::vector<double> a(a_count), b(b_count), c0(c_count, 0.0), c(c_count), d(c_count);
    std::vector<float> af, bf;
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> dist(-4.0, 4.0);
    for (auto* v : {&a, &b})
      for (double& x : *v) x = s.fp32 ? static_cast<float>(dist(gen)) : dist(gen);
    if (s.fp32) {
      af.assign(a.begin(), a.end());
      bf.assign(b.begin(), b.end());
    }
    const RefOperand ra = s.fp32 ? RefOperand{kFP32, af.data(), 1, s.m} : RefOperand{kFP64, a.data(), 1, s.m};
    const RefOperand rb = s.fp32 ? RefOperand{kFP32, bf.data(), 1, s.k} : RefOperand{kFP64, b.data(), 1, s.k};
    auto reference = [&] {
      reference_product(s.m, s.n, s.k, ra, rb, {kFP64, c0.data(), 1, s.m}, c.data(), s.m, threads);
    };
    auto dgemm = [&] {
      cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, s.m, s.n, s.k, 1.0, a.data(), s.m, b.data(), s.k, 0.0,
                  d.data(), s.m);
    };
    double flops = 2.0 * s.m * s.n * s.k;
    // Turns of about a second each side. OpenBLAS's pool threads keep spinning on the cores for
    // a while after each dgemm, so the reference runs first in a turn and the spinning is left
    // to die down before the next turn.
    int turns = std::clamp(static_cast<int>(3e11 / flops), 2, 5);
    double ref_s = 1e30, blas_s = 1e30;
    if (flops < 1e11) {  // untimed: first touch of the outputs, cores woken up
      reference();
      dgemm();
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    for (int t = 0; t < turns; ++t) {
      ref_s = std::min(ref_s, seconds(reference));
      blas_s = std::min(blas_s, seconds(dgemm));
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    double diff = 0;
    for (size_t i = 0; i < c_count; ++i) diff = std::max(diff, std::fabs(c[i] - d[i]));
    char name[64];
    std::snprintf(name, sizeof name, "%dx%dx%d%s", s.m, s.n, s.k, s.fp32 ? " fp32" : "");
    std::printf("%-17s %9.1f GF/s %9.1f GF/s %7.2f %12.3g\n", name, flops / ref_s * 1e-9, flops / blas_s * 1e-9,
                blas_s / ref_s, diff);
    std::fflush(stdout);
  }
  return 0;
}
