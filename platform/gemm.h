// The product behind every emulated BLAS call: D = alpha * op(A) * op(B) + beta * C, column-major.
#pragma once

#include <cstdint>

#include <cublas_api.h>

struct GemmCall {
    cublasOperation_t op_a = CUBLAS_OP_N;
    cublasOperation_t op_b = CUBLAS_OP_N;
    int64_t m = 0, n = 0, k = 0;
    cudaDataType a_type = CUDA_R_32F, b_type = CUDA_R_32F, c_type = CUDA_R_32F;
    const void* a = nullptr;
    int64_t lda = 0;
    const void* b = nullptr;
    int64_t ldb = 0;
    const void* c = nullptr;
    int64_t ldc = 0;
    void* d = nullptr;  // may equal c
    int64_t ldd = 0;
    cublasComputeType_t compute = CUBLAS_COMPUTE_32F;
    cudaDataType scale_type = CUDA_R_32F;  // type of *alpha and *beta
    const void* alpha = nullptr;
    const void* beta = nullptr;
};

// Whether the product can be computed, without looking at the buffers: CUBLAS_STATUS_INVALID_VALUE
// for bad sizes or leading dimensions, CUBLAS_STATUS_NOT_SUPPORTED for a type combination the
// libraries do not offer (under the nvidia rules, the vendor's tables).
cublasStatus_t sim_gemm_check(const GemmCall& call);
// Checks, then computes the product.
cublasStatus_t sim_gemm(const GemmCall& call);

// Element conversions with round-to-nearest-even, as the hardware does them. In a namespace of
// their own: the programs linked with this library have conversions of the same names.
namespace sim {
uint16_t float_to_half(float value);
float half_to_float(uint16_t value);
uint16_t float_to_bf16(float value);
float bf16_to_float(uint16_t value);
}  // namespace sim
