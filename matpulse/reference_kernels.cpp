#include "reference_kernels.h"

#include <immintrin.h>

#include <cmath>

// Each kernel keeps its whole tile of sums in registers and vectorises across the rows of the
// tile, so every sum still receives its products one by one in increasing k. All of them use a
// fused multiply-add, so every kernel gives the same bits.
namespace {

constexpr int kPortMR = 4, kPortNR = 4;

void kernel_portable(int kc, const double* a, const double* b, double* c, int ldc, bool first) {
  double acc[kPortNR][kPortMR];
  for (int j = 0; j < kPortNR; ++j)
    for (int i = 0; i < kPortMR; ++i) acc[j][i] = first ? 0.0 : c[j * ldc + i];
  for (int k = 0; k < kc; ++k, a += kPortMR, b += kPortNR)
    for (int j = 0; j < kPortNR; ++j)
      for (int i = 0; i < kPortMR; ++i) acc[j][i] = std::fma(a[i], b[j], acc[j][i]);
  for (int j = 0; j < kPortNR; ++j)
    for (int i = 0; i < kPortMR; ++i) c[j * ldc + i] = acc[j][i];
}

constexpr int kAvx2MR = 8, kAvx2NR = 6;  // 12 of the 16 ymm registers hold sums

__attribute__((target("avx2,fma"))) void kernel_avx2(int kc, const double* a, const double* b, double* c, int ldc,
                                                     bool first) {
  __m256d acc[kAvx2NR][2];
#pragma GCC unroll 6
  for (int j = 0; j < kAvx2NR; ++j) {
    acc[j][0] = first ? _mm256_setzero_pd() : _mm256_loadu_pd(c + j * ldc);
    acc[j][1] = first ? _mm256_setzero_pd() : _mm256_loadu_pd(c + j * ldc + 4);
  }
  for (int k = 0; k < kc; ++k, a += kAvx2MR, b += kAvx2NR) {
    __m256d a0 = _mm256_loadu_pd(a), a1 = _mm256_loadu_pd(a + 4);
#pragma GCC unroll 6
    for (int j = 0; j < kAvx2NR; ++j) {
      __m256d bj = _mm256_broadcast_sd(b + j);
      acc[j][0] = _mm256_fmadd_pd(a0, bj, acc[j][0]);
      acc[j][1] = _mm256_fmadd_pd(a1, bj, acc[j][1]);
    }
  }
#pragma GCC unroll 6
  for (int j = 0; j < kAvx2NR; ++j) {
    _mm256_storeu_pd(c + j * ldc, acc[j][0]);
    _mm256_storeu_pd(c + j * ldc + 4, acc[j][1]);
  }
}

constexpr int kAvx512MR = 24, kAvx512NR = 8;  // 24 of the 32 zmm registers hold sums

__attribute__((target("avx512f"))) void kernel_avx512(int kc, const double* a, const double* b, double* c, int ldc,
                                                      bool first) {
  __m512d acc[kAvx512NR][3];
#pragma GCC unroll 8
  for (int j = 0; j < kAvx512NR; ++j)
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) acc[j][i] = first ? _mm512_setzero_pd() : _mm512_loadu_pd(c + j * ldc + 8 * i);
  for (int k = 0; k < kc; ++k, a += kAvx512MR, b += kAvx512NR) {
    __m512d a0 = _mm512_loadu_pd(a), a1 = _mm512_loadu_pd(a + 8), a2 = _mm512_loadu_pd(a + 16);
#pragma GCC unroll 8
    for (int j = 0; j < kAvx512NR; ++j) {
      __m512d bj = _mm512_set1_pd(b[j]);
      acc[j][0] = _mm512_fmadd_pd(a0, bj, acc[j][0]);
      acc[j][1] = _mm512_fmadd_pd(a1, bj, acc[j][1]);
      acc[j][2] = _mm512_fmadd_pd(a2, bj, acc[j][2]);
    }
  }
#pragma GCC unroll 8
  for (int j = 0; j < kAvx512NR; ++j)
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) _mm512_storeu_pd(c + j * ldc + 8 * i, acc[j][i]);
}

}  // namespace

bool ref_kernel_available(RefKernel kind) {
  __builtin_cpu_init();
  switch (kind) {
    case RefKernel::kAvx512: return __builtin_cpu_supports("avx512f");
    case RefKernel::kAvx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    default: return true;
  }
}

RefKernelInfo ref_kernel(RefKernel kind) {
  if (kind == RefKernel::kBest)
    kind = ref_kernel_available(RefKernel::kAvx512) ? RefKernel::kAvx512
           : ref_kernel_available(RefKernel::kAvx2) ? RefKernel::kAvx2
                                                    : RefKernel::kPortable;
  switch (kind) {
    case RefKernel::kAvx512: return {kernel_avx512, kAvx512MR, kAvx512NR};
    case RefKernel::kAvx2: return {kernel_avx2, kAvx2MR, kAvx2NR};
    default: return {kernel_portable, kPortMR, kPortNR};
  }
}
