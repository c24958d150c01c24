// The host reference of the product, in double precision, spread over host threads.
#pragma once

#include <cstdint>

#include "reference_kernels.h"

// One operand as stored: element (r, c) is data[r * row_stride + c * col_stride], of element
// type `type` (FP32, FP16, INT8, BF16 or FP64); it is widened exactly to double when read.
struct RefOperand {
  uint32_t type = 0;
  const void* data = nullptr;
  int64_t row_stride = 0;
  int64_t col_stride = 0;
};

// out (column-major rows x cols, leading dimension ldo) = alpha * a * b + beta * c_in, with a
// rows x depth, b depth x cols and c_in rows x cols; c_in must not overlap out. Every element sums
// its products in increasing k from 0, one fused multiply-add each; INT8 runs saturate the
// result. Runs on `threads` threads, started once for the whole product.
void reference_product(int rows, int cols, int depth, const RefOperand& a, const RefOperand& b, const RefOperand& c_in,
                       double* out, int ldo, int threads, RefKernel kernel = RefKernel::kBest);

// FC = alpha * (A * B) + beta * C for the run's M, N, K, read straight from MA, MB and MC.
void prepare_verify_res();
// c (column-major rows x cols, leading dimension ldc) = alpha * a * b + beta * c, where a is
// row-major rows x depth (leading dimension lda) and b column-major depth x cols (ldb), on
// `nthreads` threads.
void mul_thread_res(int rows, int cols, int depth, const double* a, int lda, const double* b, int ldb,
                    double* c, int ldc);
