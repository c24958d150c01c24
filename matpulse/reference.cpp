#include "reference.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "matrices.h"
#include "params.h"

// The reference must keep each element's additions in order k = 0, 1, 2, ... and still be
// fast, so it is blocked like a BLAS kernel but never splits or reorders a dot product: a
// micro-kernel keeps MR x NR running sums in registers, vectorised across output elements,
// and carries them from one k block to the next through a small sum tile.
namespace {

constexpr int MR = 6, NR = 8;
constexpr int KC = 256, MC = 144, NC = 128;

using Kernel = void (*)(int kc, const double* a, const double* b, double* s);

// a: kc x MR (k-major), b: kc x NR (k-major), s: MR x NR running sums.
void kernel_generic(int kc, const double* a, const double* b, double* s) {
  double acc[MR][NR];
  for (int i = 0; i < MR; ++i)
    for (int j = 0; j < NR; ++j) acc[i][j] = s[i * NR + j];
  for (int k = 0; k < kc; ++k)
    for (int i = 0; i < MR; ++i)
      for (int j = 0; j < NR; ++j) acc[i][j] += a[k * MR + i] * b[k * NR + j];
  for (int i = 0; i < MR; ++i)
    for (int j = 0; j < NR; ++j) s[i * NR + j] = acc[i][j];
}

__attribute__((target("avx2,fma"))) void kernel_avx2(int kc, const double* a, const double* b, double* s) {
  __m256d c[MR][2];  // fully unrolled so the sums stay in registers
#pragma GCC unroll 6
  for (int i = 0; i < MR; ++i) {
    c[i][0] = _mm256_loadu_pd(s + i * NR);
    c[i][1] = _mm256_loadu_pd(s + i * NR + 4);
  }
  for (int k = 0; k < kc; ++k) {
    __m256d b0 = _mm256_loadu_pd(b + k * NR);
    __m256d b1 = _mm256_loadu_pd(b + k * NR + 4);
#pragma GCC unroll 6
    for (int i = 0; i < MR; ++i) {
      __m256d ai = _mm256_broadcast_sd(a + k * MR + i);
      c[i][0] = _mm256_fmadd_pd(ai, b0, c[i][0]);
      c[i][1] = _mm256_fmadd_pd(ai, b1, c[i][1]);
    }
  }
#pragma GCC unroll 6
  for (int i = 0; i < MR; ++i) {
    _mm256_storeu_pd(s + i * NR, c[i][0]);
    _mm256_storeu_pd(s + i * NR + 4, c[i][1]);
  }
}

Kernel pick_kernel() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? kernel_avx2 : kernel_generic;
}

double finish(double sum, double old) {
  double v = static_cast<double>(alpha) * sum + static_cast<double>(beta) * old;
  if (data_type != kINT8) return v;
  float r = rintf(static_cast<float>(v));
  double out = r > 127.0f ? 127.0 : r;
  return out < -128.0 ? -128.0 : out;
}

struct Operands {
  int depth;
  const double* a;
  int lda;
  const double* b;
  int ldb;
  double* c;
  int ldc;
};

// Output rows [r0, r1) x columns [c0, c1).
void compute_block(const Operands& op, int r0, int r1, int c0, int c1) {
  static const Kernel kernel = pick_kernel();
  std::vector<double> ap(static_cast<size_t>(MC) * KC), bp(static_cast<size_t>(KC) * NC);
  std::vector<double> sums(static_cast<size_t>(MC) * NC);
  for (int jc = c0; jc < c1; jc += NC) {
    int nc = std::min(NC, c1 - jc), npanels = (nc + NR - 1) / NR;
    for (int ic = r0; ic < r1; ic += MC) {
      int mc = std::min(MC, r1 - ic), mpanels = (mc + MR - 1) / MR;
      std::fill(sums.begin(), sums.end(), 0.0);
      for (int pc = 0; pc < op.depth; pc += KC) {
        int kc = std::min(KC, op.depth - pc);
        for (int jp = 0; jp < npanels; ++jp)
          for (int j = 0; j < NR; ++j) {
            int col = jc + jp * NR + j;
            double* dst = &bp[static_cast<size_t>(jp) * KC * NR + j];
            const double* src = op.b + static_cast<size_t>(col) * op.ldb + pc;
            for (int k = 0; k < kc; ++k) dst[k * NR] = col < jc + nc ? src[k] : 0.0;
          }
        for (int ip = 0; ip < mpanels; ++ip)
          for (int i = 0; i < MR; ++i) {
            int row = ic + ip * MR + i;
            double* dst = &ap[static_cast<size_t>(ip) * KC * MR + i];
            const double* src = op.a + static_cast<size_t>(row) * op.lda + pc;
            for (int k = 0; k < kc; ++k) dst[k * MR] = row < ic + mc ? src[k] : 0.0;
          }
        for (int jp = 0; jp < npanels; ++jp)
          for (int ip = 0; ip < mpanels; ++ip)
            kernel(kc, &ap[static_cast<size_t>(ip) * KC * MR], &bp[static_cast<size_t>(jp) * KC * NR],
                   &sums[(static_cast<size_t>(jp) * mpanels + ip) * MR * NR]);
      }
      for (int j = 0; j < nc; ++j)
        for (int i = 0; i < mc; ++i) {
          int jp = j / NR, ip = i / MR;
          double sum = sums[(static_cast<size_t>(jp) * mpanels + ip) * MR * NR + (i % MR) * NR + j % NR];
          double& out = op.c[(ic + i) + static_cast<size_t>(op.ldc) * (jc + j)];
          out = finish(sum, out);
        }
    }
  }
}

}  // namespace

void res_worker(int chunk, int index, int rows, int cols, int depth, const double* a, int lda,
                const double* b, int ldb, double* c, int ldc) {
  int64_t total = static_cast<int64_t>(rows) * cols;
  int64_t lo = static_cast<int64_t>(index) * chunk, hi = std::min(lo + chunk, total);
  if (lo >= hi) return;
  const Operands op{depth, a, lda, b, ldb, c, ldc};
  // The range is a run of column-major indices: a partial first column, whole columns, and a
  // partial last column.
  int first_col = static_cast<int>(lo / rows), first_row = static_cast<int>(lo % rows);
  int last_col = static_cast<int>((hi - 1) / rows), last_row = static_cast<int>((hi - 1) % rows);
  if (first_col == last_col) {
    compute_block(op, first_row, last_row + 1, first_col, first_col + 1);
    return;
  }
  int full_begin = first_row > 0 ? first_col + 1 : first_col;
  int full_end = last_row < rows - 1 ? last_col : last_col + 1;
  if (first_row > 0) compute_block(op, first_row, rows, first_col, first_col + 1);
  if (full_begin < full_end) compute_block(op, 0, rows, full_begin, full_end);
  if (last_row < rows - 1) compute_block(op, 0, last_row + 1, last_col, last_col + 1);
}

void mul_thread_res(int rows, int cols, int depth, const double* a, int lda, const double* b, int ldb,
                    double* c, int ldc) {
  int64_t total = static_cast<int64_t>(rows) * cols;
  if (total <= 0) return;
  int threads = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(nthreads, total)));
  int chunk = static_cast<int>((total + threads - 1) / threads);
  std::vector<std::thread> pool;
  for (int i = 0; i < threads; ++i)
    pool.emplace_back(res_worker, chunk, i, rows, cols, depth, a, lda, b, ldb, c, ldc);
  for (auto& t : pool) t.join();
}

void prepare_verify_res() {
  mul_thread_res(static_cast<int>(gemm_m), static_cast<int>(gemm_n), static_cast<int>(gemm_k),
                 static_cast<const double*>(FA.data), static_cast<int>(gemm_k),
                 static_cast<const double*>(FB.data), static_cast<int>(gemm_k),
                 static_cast<double*>(FC.data), static_cast<int>(gemm_m));
}
