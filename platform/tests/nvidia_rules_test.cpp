// The emulated BLAS under NVIDIA's rules (QUELVAN_SIM_RULES=nvidia): what cuBLASLt refuses on
// NVIDIA GPUs is refused here with the vendor's status, by the heuristic and by the product.
#include <cublasLt.h>
#include <cublas_v2.h>
#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim_env.h"

namespace {

struct Product {
    cublasComputeType_t compute = CUBLAS_COMPUTE_32I;
    cudaDataType scale = CUDA_R_32F, ab = CUDA_R_8I, c = CUDA_R_8I;
    int32_t op_a = CUBLAS_OP_T, op_b = CUBLAS_OP_N;
    uint64_t m = 8, n = 5, k = 12;
};

// Descriptors of one product; A and B laid out as op() asks, leading dimensions their rows.
struct Described {
    cublasLtHandle_t lt = nullptr;
    cublasLtMatmulDesc_t desc = nullptr;
    cublasLtMatrixLayout_t layout[3] = {};
    cublasLtMatmulPreference_t pref = nullptr;

    explicit Described(const Product& p, uint64_t workspace)
    {
        EXPECT_EQ(cudaSetDevice(1), cudaSuccess);
        EXPECT_EQ(cublasLtCreate(&lt), CUBLAS_STATUS_SUCCESS);
        EXPECT_EQ(cublasLtMatmulDescCreate(&desc, p.compute, p.scale), CUBLAS_STATUS_SUCCESS);
        cublasLtMatmulDescSetAttribute(desc, CUBLASLT_MATMUL_DESC_TRANSA, &p.op_a, 4);
        cublasLtMatmulDescSetAttribute(desc, CUBLASLT_MATMUL_DESC_TRANSB, &p.op_b, 4);
        uint64_t ar = p.op_a ? p.k : p.m, ac = p.op_a ? p.m : p.k;
        uint64_t br = p.op_b ? p.n : p.k, bc = p.op_b ? p.k : p.n;
        cublasLtMatrixLayoutCreate(&layout[0], p.ab, ar, ac, static_cast<int64_t>(ar));
        cublasLtMatrixLayoutCreate(&layout[1], p.ab, br, bc, static_cast<int64_t>(br));
        cublasLtMatrixLayoutCreate(&layout[2], p.c, p.m, p.n, static_cast<int64_t>(p.m));
        cublasLtMatmulPreferenceCreate(&pref);
        EXPECT_EQ(cublasLtMatmulPreferenceSetAttribute(pref, CUBLASLT_MATMUL_PREF_MAX_WORKSPACE_BYTES,
                                                       &workspace, sizeof workspace),
                  CUBLAS_STATUS_SUCCESS);
    }
    ~Described()
    {
        cublasLtMatmulPreferenceDestroy(pref);
        for (auto l : layout)
            cublasLtMatrixLayoutDestroy(l);
        cublasLtMatmulDescDestroy(desc);
        cublasLtDestroy(lt);
    }
    cublasStatus_t heuristic(cublasLtMatmulHeuristicResult_t* best, int* found)
    {
        return cublasLtMatmulAlgoGetHeuristic(lt, desc, layout[0], layout[1], layout[2], layout[2], pref,
                                              1, best, found);
    }
    // The product on host buffers large enough for any case here; `shift` misaligns A.
    cublasStatus_t run(const cublasLtMatmulAlgo_t* algo, size_t workspace_bytes, size_t shift = 0)
    {
        std::vector<int32_t> a(1024), b(1024), c(1024), ws(16);
        float one = 1, zero = 0;
        return cublasLtMatmul(lt, desc, &one, reinterpret_cast<char*>(a.data()) + shift, layout[0], b.data(),
                              layout[1], &zero, c.data(), layout[2], c.data(), layout[2], algo, ws.data(),
                              workspace_bytes, nullptr);
    }
};

TEST(NvidiaRules, RefusesWhatCublasLtRefuses)
{
    struct Case {
        const char* name;
        Product p;
        cublasStatus_t expected;
    };
    const Case cases[] = {
        {"int8 TN", {}, CUBLAS_STATUS_SUCCESS},
        {"int8 TN with odd n", {.n = 7}, CUBLAS_STATUS_SUCCESS},
        {"int8 NN", {.op_a = CUBLAS_OP_N}, CUBLAS_STATUS_NOT_SUPPORTED},
        {"int8 TT", {.op_b = CUBLAS_OP_T}, CUBLAS_STATUS_NOT_SUPPORTED},
        {"int8 NT", {.op_a = CUBLAS_OP_N, .op_b = CUBLAS_OP_T}, CUBLAS_STATUS_NOT_SUPPORTED},
        {"int8 m not a multiple of 4", {.m = 6}, CUBLAS_STATUS_NOT_SUPPORTED},
        {"int8 k not a multiple of 4", {.k = 10}, CUBLAS_STATUS_NOT_SUPPORTED},
        {"int8 with int32 C and float scale", {.c = CUDA_R_32I}, CUBLAS_STATUS_NOT_SUPPORTED},
        {"fast fp16 compute on fp16 data",
         {.compute = CUBLAS_COMPUTE_32F_FAST_16F, .ab = CUDA_R_16F, .c = CUDA_R_16F},
         CUBLAS_STATUS_NOT_SUPPORTED},
        {"fp16 NN, odd sizes", {.compute = CUBLAS_COMPUTE_32F, .ab = CUDA_R_16F, .c = CUDA_R_16F,
                                .op_a = CUBLAS_OP_N, .m = 7, .n = 3, .k = 5},
         CUBLAS_STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        Described d(c.p, 1024);
        cublasLtMatmulHeuristicResult_t best{};
        int found = -1;
        EXPECT_EQ(d.heuristic(&best, &found), c.expected) << c.name;
        EXPECT_EQ(found, c.expected == CUBLAS_STATUS_SUCCESS ? 1 : 0) << c.name;
        EXPECT_EQ(d.run(nullptr, 0), c.expected) << c.name;
        if (c.expected == CUBLAS_STATUS_SUCCESS) {
            EXPECT_EQ(d.run(&best.algo, best.workspaceSize), CUBLAS_STATUS_SUCCESS) << c.name;
        }
    }
    // Integer tensor-core kernels need 4-byte aligned operands.
    Described d(Product{}, 0);
    EXPECT_EQ(d.run(nullptr, 0, 1), CUBLAS_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(d.run(nullptr, 0, 4), CUBLAS_STATUS_SUCCESS);
}

TEST(NvidiaRules, AlgorithmRunsOnlyWithTheWorkspaceItAskedFor)
{
    Described d(Product{}, 64);
    cublasLtMatmulHeuristicResult_t best{};
    int found = 0;
    ASSERT_EQ(d.heuristic(&best, &found), CUBLAS_STATUS_SUCCESS);
    ASSERT_EQ(found, 1);
    EXPECT_EQ(best.workspaceSize, 64u);
    EXPECT_EQ(d.run(&best.algo, 32), CUBLAS_STATUS_INVALID_VALUE);
    EXPECT_EQ(d.run(&best.algo, 64), CUBLAS_STATUS_SUCCESS);
    cublasLtMatmulAlgo_t made_up{};
    EXPECT_EQ(d.run(&made_up, 64), CUBLAS_STATUS_INVALID_VALUE);
    EXPECT_EQ(quelvanSimNvidiaRules(), 1);
}

}  // namespace

int main(int argc, char** argv)
{
    set_sim_env();
    setenv("QUELVAN_SIM_RULES", "nvidia", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
