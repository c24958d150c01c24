// Peer of matpulse on a real GPU: a bare cuBLASLt loop of the same shape and types, with a 32 MiB
// workspace and the heuristic's best algorithm, timed with events around `loops` back-to-back
// products after one warm-up. A and B hold uniform values in [0, 1) like matpulse's inputs (all-zero
// operands draw less power and can run faster than real data). Built only against the CUDA toolkit.
//
//   gemm_peer TYPE M N K LOOPS TA TB   (TYPE 0 FP32, 1 FP16, 2 INT8, 3 BF16, 4 FP64)
// prints one line: "peer TYPE M N K ms_per_product tera_ops_per_second".
#include <cublasLt.h>
#include <cuda_bf16.h>
#include <cuda_fp16.h>
#include <cuda_runtime.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Types {
    cublasComputeType_t compute;
    cudaDataType scale, ab, c;
    size_t ab_size, c_size;
};

// The same library types as matpulse, all through cuBLASLt.
const Types kTypes[5] = {
    {CUBLAS_COMPUTE_32F, CUDA_R_32F, CUDA_R_32F, CUDA_R_32F, 4, 4},
    {CUBLAS_COMPUTE_32F, CUDA_R_32F, CUDA_R_16F, CUDA_R_16F, 2, 2},
    {CUBLAS_COMPUTE_32I, CUDA_R_32F, CUDA_R_8I, CUDA_R_8I, 1, 1},
    {CUBLAS_COMPUTE_32F, CUDA_R_32F, CUDA_R_16BF, CUDA_R_16BF, 2, 2},
    {CUBLAS_COMPUTE_64F, CUDA_R_64F, CUDA_R_64F, CUDA_R_64F, 8, 8},
};

// Uploads `count` uniform values in [0, 1), in the element type of `type`.
template <typename T, typename Convert>
bool upload_values(void* dev, size_t count, Convert convert)
{
    std::mt19937 gen(12345);
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    std::vector<T> host(count);
    for (T& v : host)
        v = convert(dist(gen));
    return cudaMemcpy(dev, host.data(), count * sizeof(T), cudaMemcpyHostToDevice) == cudaSuccess;
}

bool upload_values(int type, void* dev, size_t count)
{
    switch (type) {
    case 0: return upload_values<float>(dev, count, [](float v) { return v; });
    case 1: return upload_values<__half>(dev, count, [](float v) { return __float2half(v); });
    case 2: return upload_values<int8_t>(dev, count, [](float v) { return static_cast<int8_t>(v * 127); });
    case 3: return upload_values<__nv_bfloat16>(dev, count, [](float v) { return __float2bfloat16(v); });
    default: return upload_values<double>(dev, count, [](float v) { return static_cast<double>(v); });
    }
}

int fail(const char* what, int status)
{
    std::fprintf(stderr, "gemm_peer: %s failed with status %d\n", what, status);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: gemm_peer TYPE M N K LOOPS TA TB\n");
        return 2;
    }
    int type = std::atoi(argv[1]);
    long m = std::atol(argv[2]), n = std::atol(argv[3]), k = std::atol(argv[4]);
    int loops = std::atoi(argv[5]);
    int32_t op_a = std::atoi(argv[6]) ? CUBLAS_OP_T : CUBLAS_OP_N;
    int32_t op_b = std::atoi(argv[7]) ? CUBLAS_OP_T : CUBLAS_OP_N;
    if (type < 0 || type > 4 || m < 1 || n < 1 || k < 1 || loops < 1) {
        std::fprintf(stderr, "gemm_peer: bad arguments\n");
        return 2;
    }
    const Types& t = kTypes[type];
    const size_t workspace_bytes = 32u << 20;

    void *a = nullptr, *b = nullptr, *c = nullptr, *workspace = nullptr;
    if (cudaMalloc(&a, m * k * t.ab_size) != cudaSuccess || cudaMalloc(&b, k * n * t.ab_size) != cudaSuccess ||
        cudaMalloc(&c, m * n * t.c_size) != cudaSuccess || cudaMalloc(&workspace, workspace_bytes) != cudaSuccess)
        return fail("cudaMalloc", 0);
    if (!upload_values(type, a, m * k) || !upload_values(type, b, k * n) ||
        cudaMemset(c, 0, m * n * t.c_size) != cudaSuccess)
        return fail("upload", 0);

    cublasLtHandle_t lt;
    cublasLtMatmulDesc_t desc;
    cublasLtMatrixLayout_t la, lb, lc;
    cublasLtMatmulPreference_t pref;
    cublasStatus_t s = cublasLtCreate(&lt);
    if (s != CUBLAS_STATUS_SUCCESS) return fail("cublasLtCreate", s);
    cublasLtMatmulDescCreate(&desc, t.compute, t.scale);
    cublasLtMatmulDescSetAttribute(desc, CUBLASLT_MATMUL_DESC_TRANSA, &op_a, sizeof op_a);
    cublasLtMatmulDescSetAttribute(desc, CUBLASLT_MATMUL_DESC_TRANSB, &op_b, sizeof op_b);
    long a_rows = op_a == CUBLAS_OP_T ? k : m, b_rows = op_b == CUBLAS_OP_T ? n : k;
    cublasLtMatrixLayoutCreate(&la, t.ab, a_rows, op_a == CUBLAS_OP_T ? m : k, a_rows);
    cublasLtMatrixLayoutCreate(&lb, t.ab, b_rows, op_b == CUBLAS_OP_T ? k : n, b_rows);
    cublasLtMatrixLayoutCreate(&lc, t.c, m, n, m);
    cublasLtMatmulPreferenceCreate(&pref);
    uint64_t max_workspace = workspace_bytes;
    cublasLtMatmulPreferenceSetAttribute(pref, CUBLASLT_MATMUL_PREF_MAX_WORKSPACE_BYTES, &max_workspace,
                                         sizeof max_workspace);
    cublasLtMatmulHeuristicResult_t best{};
    int found = 0;
    s = cublasLtMatmulAlgoGetHeuristic(lt, desc, la, lb, lc, lc, pref, 1, &best, &found);
    if (s != CUBLAS_STATUS_SUCCESS || found == 0) return fail("cublasLtMatmulAlgoGetHeuristic", s);

    float alpha_f = 1, beta_f = 0;
    double alpha_d = 1, beta_d = 0;
    const void* alpha = type == 4 ? static_cast<const void*>(&alpha_d) : &alpha_f;
    const void* beta = type == 4 ? static_cast<const void*>(&beta_d) : &beta_f;
    auto product = [&] {
        return cublasLtMatmul(lt, desc, alpha, a, la, b, lb, beta, c, lc, c, lc, &best.algo, workspace,
                              workspace_bytes, nullptr);
    };
    if ((s = product()) != CUBLAS_STATUS_SUCCESS) return fail("cublasLtMatmul (warm-up)", s);
    cudaDeviceSynchronize();

    cudaEvent_t start, stop;
    cudaEventCreate(&start);
    cudaEventCreate(&stop);
    cudaEventRecord(start, nullptr);
    for (int i = 0; i < loops; ++i)
        if ((s = product()) != CUBLAS_STATUS_SUCCESS) return fail("cublasLtMatmul", s);
    cudaEventRecord(stop, nullptr);
    cudaError_t done = cudaEventSynchronize(stop);
    if (done != cudaSuccess) return fail(cudaGetErrorString(done), done);
    float ms = 0;
    cudaEventElapsedTime(&ms, start, stop);
    double per = ms / loops;
    std::printf("peer %d %ld %ld %ld %.6f %.3f\n", type, m, n, k, per, 2.0 * m * n * k / (per * 1e-3) / 1e12);
    return 0;
}
