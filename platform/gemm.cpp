// Emulated GEMM. FP32 and FP64 go straight to OpenBLAS; FP16 and BF16 are widened to single
// precision, multiplied there and rounded back; INT8 is multiplied in double precision, which is
// exact for every product an int32 accumulator can hold, then wrapped to 32 bits.
#include "gemm.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "sim_config.h"

namespace {

enum class Family { f32, f64, i32, none };

Family family(cublasComputeType_t compute)
{
    switch (compute) {
    case CUBLAS_COMPUTE_32F:
    case CUBLAS_COMPUTE_32F_PEDANTIC:
    case CUBLAS_COMPUTE_32F_FAST_16F:
    case CUBLAS_COMPUTE_32F_FAST_16BF:
    case CUBLAS_COMPUTE_32F_FAST_TF32:
        return Family::f32;
    case CUBLAS_COMPUTE_64F:
    case CUBLAS_COMPUTE_64F_PEDANTIC:
        return Family::f64;
    case CUBLAS_COMPUTE_32I:
    case CUBLAS_COMPUTE_32I_PEDANTIC:
        return Family::i32;
    default:
        return Family::none;
    }
}

// The combinations of compute, scale, A/B and C types the product accepts. The vendor's tables
// are narrower: the fast compute modes take single-precision data only, and an INT8 product with
// an integer C takes an integer scale.
bool supported(const GemmCall& g)
{
    if (g.a_type != g.b_type)
        return false;
    bool nvidia = sim_rules() == SimRules::nvidia;
    switch (family(g.compute)) {
    case Family::f32:
        if (nvidia && g.compute != CUBLAS_COMPUTE_32F && g.compute != CUBLAS_COMPUTE_32F_PEDANTIC &&
            g.a_type != CUDA_R_32F)
            return false;
        return g.scale_type == CUDA_R_32F &&
               (g.a_type == CUDA_R_32F || g.a_type == CUDA_R_16F || g.a_type == CUDA_R_16BF) &&
               (g.c_type == g.a_type || g.c_type == CUDA_R_32F);
    case Family::f64:
        return g.scale_type == CUDA_R_64F && g.a_type == CUDA_R_64F && g.c_type == CUDA_R_64F;
    case Family::i32:
        return g.a_type == CUDA_R_8I &&
               ((g.c_type == CUDA_R_32I &&
                 (g.scale_type == CUDA_R_32I || (!nvidia && g.scale_type == CUDA_R_32F))) ||
                (g.c_type == CUDA_R_8I && g.scale_type == CUDA_R_32F));
    case Family::none:
        break;
    }
    return false;
}

double load(cudaDataType type, const void* base, int64_t index)
{
    switch (type) {
    case CUDA_R_32F: return static_cast<const float*>(base)[index];
    case CUDA_R_64F: return static_cast<const double*>(base)[index];
    case CUDA_R_16F: return sim::half_to_float(static_cast<const uint16_t*>(base)[index]);
    case CUDA_R_16BF: return sim::bf16_to_float(static_cast<const uint16_t*>(base)[index]);
    case CUDA_R_8I: return static_cast<const int8_t*>(base)[index];
    case CUDA_R_32I: return static_cast<const int32_t*>(base)[index];
    }
    return 0;
}

template <typename Int>
Int saturate(double value)
{
    value = std::nearbyint(value);
    if (std::isnan(value))
        return 0;
    value = std::clamp(value, double(std::numeric_limits<Int>::min()),
                       double(std::numeric_limits<Int>::max()));
    return static_cast<Int>(value);
}

void store(cudaDataType type, void* base, int64_t index, double value)
{
    switch (type) {
    case CUDA_R_32F: static_cast<float*>(base)[index] = static_cast<float>(value); break;
    case CUDA_R_64F: static_cast<double*>(base)[index] = value; break;
    case CUDA_R_16F:
        static_cast<uint16_t*>(base)[index] = sim::float_to_half(static_cast<float>(value));
        break;
    case CUDA_R_16BF:
        static_cast<uint16_t*>(base)[index] = sim::float_to_bf16(static_cast<float>(value));
        break;
    case CUDA_R_8I: static_cast<int8_t*>(base)[index] = saturate<int8_t>(value); break;
    case CUDA_R_32I: static_cast<int32_t*>(base)[index] = saturate<int32_t>(value); break;
    }
}

// A stored rows x cols matrix with leading dimension ld, widened to a dense column-major copy.
template <typename T>
std::vector<T> widen(cudaDataType type, const void* base, int64_t rows, int64_t cols, int64_t ld)
{
    std::vector<T> out(static_cast<size_t>(rows * cols));
    for (int64_t j = 0; j < cols; ++j)
        for (int64_t i = 0; i < rows; ++i)
            out[static_cast<size_t>(j * rows + i)] = static_cast<T>(load(type, base, j * ld + i));
    return out;
}

CBLAS_TRANSPOSE trans(cublasOperation_t op) { return op == CUBLAS_OP_N ? CblasNoTrans : CblasTrans; }

// Moves C into D where the caller asked for a separate output, so the BLAS call works in place.
void copy_c_to_d(const GemmCall& g, size_t elem)
{
    if (g.c == g.d && g.ldc == g.ldd)
        return;
    for (int64_t j = 0; j < g.n; ++j)
        std::memmove(static_cast<char*>(g.d) + static_cast<size_t>(j * g.ldd) * elem,
                     static_cast<const char*>(g.c) + static_cast<size_t>(j * g.ldc) * elem,
                     static_cast<size_t>(g.m) * elem);
}

void sgemm_direct(const GemmCall& g)
{
    copy_c_to_d(g, sizeof(float));
    cblas_sgemm(CblasColMajor, trans(g.op_a), trans(g.op_b), int(g.m), int(g.n), int(g.k),
                *static_cast<const float*>(g.alpha), static_cast<const float*>(g.a), int(g.lda),
                static_cast<const float*>(g.b), int(g.ldb), *static_cast<const float*>(g.beta),
                static_cast<float*>(g.d), int(g.ldd));
}

void dgemm_direct(const GemmCall& g)
{
    copy_c_to_d(g, sizeof(double));
    cblas_dgemm(CblasColMajor, trans(g.op_a), trans(g.op_b), int(g.m), int(g.n), int(g.k),
                *static_cast<const double*>(g.alpha), static_cast<const double*>(g.a), int(g.lda),
                static_cast<const double*>(g.b), int(g.ldb), *static_cast<const double*>(g.beta),
                static_cast<double*>(g.d), int(g.ldd));
}

int64_t stored_rows(cublasOperation_t op, int64_t rows, int64_t cols)
{
    return op == CUBLAS_OP_N ? rows : cols;
}

// FP16 and BF16 inputs, or an FP32 result from them: widen, multiply, round back.
void widened_sgemm(const GemmCall& g)
{
    int64_t ar = stored_rows(g.op_a, g.m, g.k), ac = stored_rows(g.op_a, g.k, g.m);
    int64_t br = stored_rows(g.op_b, g.k, g.n), bc = stored_rows(g.op_b, g.n, g.k);
    std::vector<float> a = widen<float>(g.a_type, g.a, ar, ac, g.lda);
    std::vector<float> b = widen<float>(g.b_type, g.b, br, bc, g.ldb);
    std::vector<float> c = widen<float>(g.c_type, g.c, g.m, g.n, g.ldc);
    cblas_sgemm(CblasColMajor, trans(g.op_a), trans(g.op_b), int(g.m), int(g.n), int(g.k),
                *static_cast<const float*>(g.alpha), a.data(), int(std::max<int64_t>(1, ar)),
                b.data(), int(std::max<int64_t>(1, br)), *static_cast<const float*>(g.beta),
                c.data(), int(g.m));
    for (int64_t j = 0; j < g.n; ++j)
        for (int64_t i = 0; i < g.m; ++i)
            store(g.c_type, g.d, j * g.ldd + i, c[static_cast<size_t>(j * g.m + i)]);
}

// INT8 inputs: the sums of products are integers far below 2^53, so double is exact.
void int_gemm(const GemmCall& g)
{
    int64_t ar = stored_rows(g.op_a, g.m, g.k), ac = stored_rows(g.op_a, g.k, g.m);
    int64_t br = stored_rows(g.op_b, g.k, g.n), bc = stored_rows(g.op_b, g.n, g.k);
    std::vector<double> a = widen<double>(g.a_type, g.a, ar, ac, g.lda);
    std::vector<double> b = widen<double>(g.b_type, g.b, br, bc, g.ldb);
    std::vector<double> acc(static_cast<size_t>(g.m * g.n));
    cblas_dgemm(CblasColMajor, trans(g.op_a), trans(g.op_b), int(g.m), int(g.n), int(g.k), 1.0,
                a.data(), int(std::max<int64_t>(1, ar)), b.data(), int(std::max<int64_t>(1, br)),
                0.0, acc.data(), int(std::max<int64_t>(1, g.m)));
    for (int64_t j = 0; j < g.n; ++j) {
        for (int64_t i = 0; i < g.m; ++i) {
            // The accumulator is 32 bits wide and wraps like one.
            auto sum = static_cast<int32_t>(
                static_cast<uint32_t>(static_cast<int64_t>(acc[static_cast<size_t>(j * g.m + i)])));
            double c = load(g.c_type, g.c, j * g.ldc + i);
            if (g.scale_type == CUDA_R_32I) {
                int64_t alpha = *static_cast<const int32_t*>(g.alpha);
                int64_t beta = *static_cast<const int32_t*>(g.beta);
                int64_t value = alpha * sum + beta * static_cast<int64_t>(c);
                static_cast<int32_t*>(g.d)[j * g.ldd + i] =
                    static_cast<int32_t>(static_cast<uint32_t>(value));
            } else {
                float alpha = *static_cast<const float*>(g.alpha);
                float beta = *static_cast<const float*>(g.beta);
                store(g.c_type, g.d, j * g.ldd + i, double(alpha) * sum + double(beta) * c);
            }
        }
    }
}

// The test hook: every element moves far enough that no tolerance accepts it.
void corrupt(const GemmCall& g)
{
    for (int64_t j = 0; j < g.n; ++j) {
        for (int64_t i = 0; i < g.m; ++i) {
            int64_t index = j * g.ldd + i;
            if (g.c_type == CUDA_R_8I || g.c_type == CUDA_R_32I) {
                double v = load(g.c_type, g.d, index);
                store(g.c_type, g.d, index, v >= 0 ? v - 77 : v + 77);
            } else {
                double v = load(g.c_type, g.d, index);
                store(g.c_type, g.d, index, v + 1 + 2 * std::fabs(v));
            }
        }
    }
}

}  // namespace

cublasStatus_t sim_gemm_check(const GemmCall& g)
{
    auto bad_op = [](cublasOperation_t op) { return op != CUBLAS_OP_N && op != CUBLAS_OP_T; };
    if (bad_op(g.op_a) || bad_op(g.op_b) || g.m < 0 || g.n < 0 || g.k < 0 ||
        g.m > INT32_MAX || g.n > INT32_MAX || g.k > INT32_MAX)
        return CUBLAS_STATUS_INVALID_VALUE;
    if (g.lda < std::max<int64_t>(1, stored_rows(g.op_a, g.m, g.k)) ||
        g.ldb < std::max<int64_t>(1, stored_rows(g.op_b, g.k, g.n)) ||
        g.ldc < std::max<int64_t>(1, g.m) || g.ldd < std::max<int64_t>(1, g.m))
        return CUBLAS_STATUS_INVALID_VALUE;
    return supported(g) ? CUBLAS_STATUS_SUCCESS : CUBLAS_STATUS_NOT_SUPPORTED;
}

cublasStatus_t sim_gemm(const GemmCall& g)
{
    if (!g.alpha || !g.beta)
        return CUBLAS_STATUS_INVALID_VALUE;
    if (cublasStatus_t status = sim_gemm_check(g); status != CUBLAS_STATUS_SUCCESS)
        return status;
    if (g.m == 0 || g.n == 0)
        return CUBLAS_STATUS_SUCCESS;
    if (!g.a || !g.b || !g.c || !g.d)
        return CUBLAS_STATUS_INVALID_VALUE;

    if (g.a_type == CUDA_R_32F && g.c_type == CUDA_R_32F)
        sgemm_direct(g);
    else if (g.a_type == CUDA_R_64F)
        dgemm_direct(g);
    else if (g.a_type == CUDA_R_8I)
        int_gemm(g);
    else
        widened_sgemm(g);
    if (sim_corrupt_gemm())
        corrupt(g);
    return CUBLAS_STATUS_SUCCESS;
}

uint16_t sim::float_to_half(float value)
{
    uint32_t x;
    std::memcpy(&x, &value, 4);
    uint32_t sign = (x >> 16) & 0x8000u;
    uint32_t abs = x & 0x7fffffffu;
    if (abs > 0x7f800000u)  // NaN stays a quiet NaN
        return static_cast<uint16_t>(sign | 0x7e00u);
    if (abs >= 0x477ff000u)  // rounds to or beyond 65520: infinity
        return static_cast<uint16_t>(sign | 0x7c00u);
    if (abs < 0x38800000u) {  // below the smallest normal half: subnormal or zero
        if (abs < 0x33000000u)
            return static_cast<uint16_t>(sign);
        uint32_t mant = (abs & 0x007fffffu) | 0x00800000u;
        int shift = 126 - static_cast<int>(abs >> 23);  // 14..24
        uint32_t half = mant >> shift;
        uint32_t rest = mant & ((1u << shift) - 1);
        uint32_t mid = 1u << (shift - 1);
        if (rest > mid || (rest == mid && (half & 1u)))
            ++half;
        return static_cast<uint16_t>(sign | half);
    }
    uint32_t half = ((abs >> 13) - (112u << 10));
    uint32_t rest = abs & 0x1fffu;
    if (rest > 0x1000u || (rest == 0x1000u && (half & 1u)))
        ++half;
    return static_cast<uint16_t>(sign | half);
}

float sim::half_to_float(uint16_t value)
{
    uint32_t sign = static_cast<uint32_t>(value & 0x8000u) << 16;
    uint32_t exp = (value >> 10) & 0x1fu;
    uint32_t mant = value & 0x3ffu;
    uint32_t x;
    if (exp == 0x1f) {
        x = sign | 0x7f800000u | (mant << 13);
    } else if (exp != 0) {
        x = sign | ((exp + 112u) << 23) | (mant << 13);
    } else {
        float f = std::ldexp(static_cast<float>(mant), -24);
        return sign ? -f : f;
    }
    float out;
    std::memcpy(&out, &x, 4);
    return out;
}

uint16_t sim::float_to_bf16(float value)
{
    uint32_t x;
    std::memcpy(&x, &value, 4);
    if ((x & 0x7fffffffu) > 0x7f800000u)
        return static_cast<uint16_t>((x >> 16) | 0x40u);
    x += 0x7fffu + ((x >> 16) & 1u);
    return static_cast<uint16_t>(x >> 16);
}

float sim::bf16_to_float(uint16_t value)
{
    uint32_t x = static_cast<uint32_t>(value) << 16;
    float out;
    std::memcpy(&out, &x, 4);
    return out;
}
