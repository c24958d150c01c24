#include <cublasLt.h>
#include <cublas_v2.h>
#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gemm.h"

using sim::bf16_to_float;
using sim::float_to_bf16;
using sim::float_to_half;
using sim::half_to_float;

namespace {

TEST(Conversions, RoundToNearestEven)
{
    struct Case {
        float value;
        uint16_t half, bf16;
    };
    const Case cases[] = {
        {1.0f, 0x3c00, 0x3f80},
        {-2.0f, 0xc000, 0xc000},
        {1.0f + 0x1p-11f, 0x3c00, 0x3f80},           // half tie: stays even
        {1.0f + 3 * 0x1p-11f, 0x3c02, 0x3f80},       // half tie: rounds up to even
        {1.0f + 0x1p-8f, 0x3c04, 0x3f80},            // bf16 tie: stays even
        {1.0f + 3 * 0x1p-8f, 0x3c0c, 0x3f82},        // bf16 tie: rounds up to even
        {65504.0f, 0x7bff, 0x4780},
        {65520.0f, 0x7c00, 0x4780},                  // past the largest half: infinity
        {0x1p-24f, 0x0001, 0x3380},                  // smallest half subnormal
        {0x1p-25f, 0x0000, 0x3300},                  // tie with zero: even
        {3 * 0x1p-26f, 0x0001, 0x3340},
        {INFINITY, 0x7c00, 0x7f80},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_to_half(c.value), c.half) << c.value;
        EXPECT_EQ(float_to_bf16(c.value), c.bf16) << c.value;
    }
    EXPECT_TRUE(std::isnan(half_to_float(float_to_half(NAN))));
    EXPECT_TRUE(std::isnan(bf16_to_float(float_to_bf16(NAN))));
    for (uint32_t h = 0; h < 0x7c00; ++h)  // every finite half survives the round trip
        ASSERT_EQ(float_to_half(half_to_float(static_cast<uint16_t>(h))), h);
}

enum class Api { lt, gemm_ex, dgemm };

struct TypeCase {
    const char* name;
    Api api;
    cudaDataType ab, c;
    cublasComputeType_t compute;
    cudaDataType scale;
    double tolerance;  // relative, for the 16-bit result types
};

size_t elem_size(cudaDataType t)
{
    switch (t) {
    case CUDA_R_64F: return 8;
    case CUDA_R_32F:
    case CUDA_R_32I: return 4;
    case CUDA_R_16F:
    case CUDA_R_16BF: return 2;
    default: return 1;
    }
}

void put(cudaDataType t, std::vector<uint8_t>& buf, size_t i, double v)
{
    switch (t) {
    case CUDA_R_64F: reinterpret_cast<double*>(buf.data())[i] = v; break;
    case CUDA_R_32F: reinterpret_cast<float*>(buf.data())[i] = float(v); break;
    case CUDA_R_32I: reinterpret_cast<int32_t*>(buf.data())[i] = int32_t(v); break;
    case CUDA_R_16F: reinterpret_cast<uint16_t*>(buf.data())[i] = float_to_half(float(v)); break;
    case CUDA_R_16BF: reinterpret_cast<uint16_t*>(buf.data())[i] = float_to_bf16(float(v)); break;
    default: reinterpret_cast<int8_t*>(buf.data())[i] = int8_t(v); break;
    }
}

double get(cudaDataType t, const std::vector<uint8_t>& buf, size_t i)
{
    switch (t) {
    case CUDA_R_64F: return reinterpret_cast<const double*>(buf.data())[i];
    case CUDA_R_32F: return reinterpret_cast<const float*>(buf.data())[i];
    case CUDA_R_32I: return reinterpret_cast<const int32_t*>(buf.data())[i];
    case CUDA_R_16F: return half_to_float(reinterpret_cast<const uint16_t*>(buf.data())[i]);
    case CUDA_R_16BF: return bf16_to_float(reinterpret_cast<const uint16_t*>(buf.data())[i]);
    default: return reinterpret_cast<const int8_t*>(buf.data())[i];
    }
}

// A column-major matrix stored with leading dimension rows + 3; the padding holds a marker
// that must neither enter the product nor be overwritten.
struct Matrix {
    cudaDataType type;
    int64_t rows, cols, ld;
    std::vector<uint8_t> host;
    void* device = nullptr;
    static constexpr double kPad = 99;

    Matrix(cudaDataType t, int64_t r, int64_t c, std::mt19937& rng)
        : type(t), rows(r), cols(c), ld(r + 3), host(size_t(ld * c) * elem_size(t))
    {
        std::uniform_int_distribution<int> dist(-3, 3);
        for (int64_t j = 0; j < cols; ++j)
            for (int64_t i = 0; i < ld; ++i)
                put(type, host, size_t(j * ld + i), i < rows ? dist(rng) : kPad);
        EXPECT_EQ(cudaMalloc(&device, host.size()), cudaSuccess);
        EXPECT_EQ(cudaMemcpy(device, host.data(), host.size(), cudaMemcpyHostToDevice), cudaSuccess);
    }
    ~Matrix() { cudaFree(device); }
    double at(int64_t i, int64_t j, bool transposed) const
    {
        return transposed ? get(type, host, size_t(i * ld + j)) : get(type, host, size_t(j * ld + i));
    }
};

class GemmTypes : public testing::TestWithParam<TypeCase> {};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

TEST_P(GemmTypes, MatchesNaiveProduct)
{
    const TypeCase& tc = GetParam();
    std::mt19937 rng(7);
    cublasHandle_t blas;
    cublasLtHandle_t lt;
    ASSERT_EQ(cublasCreate_v2(&blas), CUBLAS_STATUS_SUCCESS);
    ASSERT_EQ(cublasLtCreate(&lt), CUBLAS_STATUS_SUCCESS);
    struct Shape {
        int64_t m, n, k;
    };
    for (Shape shape : {Shape{5, 4, 3}, Shape{37, 29, 41}}) {
        for (int ta = 0; ta < 2; ++ta) {
            for (int tb = 0; tb < 2; ++tb) {
                SCOPED_TRACE(testing::Message() << shape.m << "x" << shape.n << "x" << shape.k
                                                << " opA " << ta << " opB " << tb);
                auto [m, n, k] = shape;
                Matrix a(tc.ab, ta ? k : m, ta ? m : k, rng);
                Matrix b(tc.ab, tb ? n : k, tb ? k : n, rng);
                Matrix c(tc.c, m, n, rng);
                double alpha = 2, beta = -1;
                float alpha_f = 2, beta_f = -1;
                int32_t alpha_i = 2, beta_i = -1;
                const void* pa = tc.scale == CUDA_R_64F ? (const void*)&alpha
                                 : tc.scale == CUDA_R_32I ? (const void*)&alpha_i
                                                          : (const void*)&alpha_f;
                const void* pb = tc.scale == CUDA_R_64F ? (const void*)&beta
                                 : tc.scale == CUDA_R_32I ? (const void*)&beta_i
                                                          : (const void*)&beta_f;
                auto op_a = ta ? CUBLAS_OP_T : CUBLAS_OP_N;
                auto op_b = tb ? CUBLAS_OP_T : CUBLAS_OP_N;
                cublasStatus_t status;
                if (tc.api == Api::dgemm) {
                    status = cublasDgemm_v2(blas, op_a, op_b, int(m), int(n), int(k), &alpha,
                                            (const double*)a.device, int(a.ld),
                                            (const double*)b.device, int(b.ld), &beta,
                                            (double*)c.device, int(c.ld));
                } else if (tc.api == Api::gemm_ex) {
                    status = cublasGemmEx(blas, op_a, op_b, int(m), int(n), int(k), pa, a.device,
                                          tc.ab, int(a.ld), b.device, tc.ab, int(b.ld), pb,
                                          c.device, tc.c, int(c.ld), tc.compute, CUBLAS_GEMM_DEFAULT);
                } else {
                    cublasLtMatmulDesc_t desc;
                    cublasLtMatrixLayout_t la, lb, lc;
                    int32_t oa = op_a, ob = op_b;
                    ASSERT_EQ(cublasLtMatmulDescCreate(&desc, tc.compute, tc.scale), CUBLAS_STATUS_SUCCESS);
                    ASSERT_EQ(cublasLtMatmulDescSetAttribute(desc, CUBLASLT_MATMUL_DESC_TRANSA, &oa, 4), CUBLAS_STATUS_SUCCESS);
                    ASSERT_EQ(cublasLtMatmulDescSetAttribute(desc, CUBLASLT_MATMUL_DESC_TRANSB, &ob, 4), CUBLAS_STATUS_SUCCESS);
                    ASSERT_EQ(cublasLtMatrixLayoutCreate(&la, tc.ab, a.rows, a.cols, a.ld), CUBLAS_STATUS_SUCCESS);
                    ASSERT_EQ(cublasLtMatrixLayoutCreate(&lb, tc.ab, b.rows, b.cols, b.ld), CUBLAS_STATUS_SUCCESS);
                    ASSERT_EQ(cublasLtMatrixLayoutCreate(&lc, tc.c, c.rows, c.cols, c.ld), CUBLAS_STATUS_SUCCESS);
                    status = cublasLtMatmul(lt, desc, pa, a.device, la, b.device, lb, pb, c.device,
                                            lc, c.device, lc, nullptr, nullptr, 0, nullptr);
                    cublasLtMatrixLayoutDestroy(la);
                    cublasLtMatrixLayoutDestroy(lb);
                    cublasLtMatrixLayoutDestroy(lc);
                    cublasLtMatmulDescDestroy(desc);
                }
                ASSERT_EQ(status, CUBLAS_STATUS_SUCCESS);
                std::vector<uint8_t> out(c.host.size());
                ASSERT_EQ(cudaMemcpy(out.data(), c.device, out.size(), cudaMemcpyDeviceToHost), cudaSuccess);
                for (int64_t j = 0; j < n; ++j) {
                    for (int64_t i = 0; i < c.ld; ++i) {
                        double got = get(tc.c, out, size_t(j * c.ld + i));
                        if (i >= m) {
                            ASSERT_EQ(got, Matrix::kPad) << "padding overwritten";
                            continue;
                        }
                        double want = beta * c.at(i, j, false);
                        for (int64_t p = 0; p < k; ++p)
                            want += alpha * a.at(i, p, ta) * b.at(p, j, tb);
                        if (tc.c == CUDA_R_8I)
                            want = std::clamp(want, -128.0, 127.0);
                        ASSERT_NEAR(got, want, tc.tolerance * std::fabs(want)) << i << "," << j;
                    }
                }
            }
        }
    }
    EXPECT_EQ(cublasLtDestroy(lt), CUBLAS_STATUS_SUCCESS);
    EXPECT_EQ(cublasDestroy_v2(blas), CUBLAS_STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Platform, GemmTypes,
    testing::Values(
        TypeCase{"fp32_lt", Api::lt, CUDA_R_32F, CUDA_R_32F, CUBLAS_COMPUTE_32F, CUDA_R_32F, 0},
        TypeCase{"fp16_lt", Api::lt, CUDA_R_16F, CUDA_R_16F, CUBLAS_COMPUTE_32F, CUDA_R_32F, 1.0 / 1024},
        TypeCase{"bf16_gemm_ex", Api::gemm_ex, CUDA_R_16BF, CUDA_R_16BF, CUBLAS_COMPUTE_32F, CUDA_R_32F, 1.0 / 128},
        TypeCase{"int8_lt_int8_out", Api::lt, CUDA_R_8I, CUDA_R_8I, CUBLAS_COMPUTE_32I, CUDA_R_32F, 0},
        TypeCase{"int8_lt_int32_out", Api::lt, CUDA_R_8I, CUDA_R_32I, CUBLAS_COMPUTE_32I, CUDA_R_32I, 0},
        TypeCase{"fp64_dgemm", Api::dgemm, CUDA_R_64F, CUDA_R_64F, CUBLAS_COMPUTE_64F, CUDA_R_64F, 0},
        TypeCase{"fp64_lt", Api::lt, CUDA_R_64F, CUDA_R_64F, CUBLAS_COMPUTE_64F, CUDA_R_64F, 0}),
    [](const testing::TestParamInfo<TypeCase>& info) { return info.param.name; });

TEST(Gemm, RefusesWhatLibrariesRefuse)
{
    cublasHandle_t blas;
    ASSERT_EQ(cublasCreate_v2(&blas), CUBLAS_STATUS_SUCCESS);
    std::vector<float> a(16), b(16), c(16);
    float one = 1;
    // FP64 inputs with a single-precision compute type is no combination the library offers.
    EXPECT_EQ(cublasGemmEx(blas, CUBLAS_OP_N, CUBLAS_OP_N, 2, 2, 2, &one, a.data(), CUDA_R_64F, 2,
                           b.data(), CUDA_R_64F, 2, &one, c.data(), CUDA_R_64F, 2,
                           CUBLAS_COMPUTE_32F, CUBLAS_GEMM_DEFAULT),
              CUBLAS_STATUS_NOT_SUPPORTED);
    // A leading dimension below the row count.
    EXPECT_EQ(cublasGemmEx(blas, CUBLAS_OP_N, CUBLAS_OP_N, 4, 2, 2, &one, a.data(), CUDA_R_32F, 3,
                           b.data(), CUDA_R_32F, 2, &one, c.data(), CUDA_R_32F, 4,
                           CUBLAS_COMPUTE_32F, CUBLAS_GEMM_DEFAULT),
              CUBLAS_STATUS_INVALID_VALUE);

    cublasLtHandle_t lt;
    cublasLtMatmulDesc_t desc;
    cublasLtMatrixLayout_t la, lb, lc;
    ASSERT_EQ(cublasLtCreate(&lt), CUBLAS_STATUS_SUCCESS);
    ASSERT_EQ(cublasLtMatmulDescCreate(&desc, CUBLAS_COMPUTE_32F, CUDA_R_32F), CUBLAS_STATUS_SUCCESS);
    int64_t value = 1;
    EXPECT_EQ(cublasLtMatmulDescSetAttribute(desc, CUBLASLT_MATMUL_DESC_TRANSA, &value, 8),
              CUBLAS_STATUS_INVALID_VALUE);
    ASSERT_EQ(cublasLtMatrixLayoutCreate(&la, CUDA_R_32F, 2, 3, 2), CUBLAS_STATUS_SUCCESS);
    ASSERT_EQ(cublasLtMatrixLayoutCreate(&lb, CUDA_R_32F, 2, 2, 2), CUBLAS_STATUS_SUCCESS);  // k mismatch
    ASSERT_EQ(cublasLtMatrixLayoutCreate(&lc, CUDA_R_32F, 2, 2, 2), CUBLAS_STATUS_SUCCESS);
    EXPECT_EQ(cublasLtMatmul(lt, desc, &one, a.data(), la, b.data(), lb, &one, c.data(), lc,
                             c.data(), lc, nullptr, nullptr, 0, nullptr),
              CUBLAS_STATUS_INVALID_VALUE);
    cublasLtMatrixLayoutDestroy(la);
    cublasLtMatrixLayoutDestroy(lb);
    cublasLtMatrixLayoutDestroy(lc);
    cublasLtMatmulDescDestroy(desc);
    cublasLtDestroy(lt);
    cublasDestroy_v2(blas);
}

// Child of the test below: three FP64 products of 3 x 4 with gemm_result@2 in force.
[[noreturn]] void run_corrupted_products()
{
    setenv("QUELVAN_SIM_FAIL", "gemm_result@2", 1);
    cublasHandle_t blas;
    cublasCreate_v2(&blas);
    double a = 3, b = 4, c = 0, alpha = 1, beta = 0;
    double results[3];
    for (double& r : results) {
        if (cublasDgemm_v2(blas, CUBLAS_OP_N, CUBLAS_OP_N, 1, 1, 1, &alpha, &a, 1, &b, 1, &beta,
                           &c, 1) != CUBLAS_STATUS_SUCCESS)
            std::exit(3);
        r = c;
    }
    std::exit(results[0] == 12 && results[1] != 12 && results[2] != 12 ? 0 : 4);
}

// The test hook that lets a result check be shown to fail: from the second product on, results
// are wrong while the calls still succeed.
TEST(GemmDeathTest, CorruptedResultsFromTheNthProduct)
{
    EXPECT_EXIT(run_corrupted_products(), testing::ExitedWithCode(0), "");
}

}  // namespace
