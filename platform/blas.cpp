// cuBLAS and cuBLASLt of the emulated GPUs: handles and descriptors are plain records; every
// product goes to sim_gemm. The heuristic offers one algorithm, which asks for all the workspace
// the preference allows, so a caller that announces a workspace and then passes less is caught.
#include <cublasLt.h>
#include <cublas_v2.h>

#include <cstring>

#include "gemm.h"
#include "sim_config.h"

struct cublasContext {
    int device;
};

struct cublasLtContext {
    int device;
};

struct cublasLtMatmulDescOpaque {
    int32_t compute;
    int32_t scale;
    int32_t trans_a = CUBLAS_OP_N;
    int32_t trans_b = CUBLAS_OP_N;
};

struct cublasLtMatrixLayoutOpaque {
    cudaDataType type;
    uint64_t rows;
    uint64_t cols;
    int64_t ld;
};

struct cublasLtMatmulPreferenceOpaque {
    uint64_t max_workspace = 0;
};

namespace {

// A handle is bound to the GPU current when it is created.
bool current_device(int* device)
{
    return cudaGetDevice(device) == cudaSuccess && *device >= 0 && *device < sim_gpu_count();
}

// The scalar type of alpha and beta that cublasGemmEx derives from its compute type.
cudaDataType gemm_ex_scale(cublasComputeType_t compute)
{
    switch (compute) {
    case CUBLAS_COMPUTE_64F:
    case CUBLAS_COMPUTE_64F_PEDANTIC: return CUDA_R_64F;
    case CUBLAS_COMPUTE_32I:
    case CUBLAS_COMPUTE_32I_PEDANTIC: return CUDA_R_32I;
    default: return CUDA_R_32F;
    }
}

// Marks an algorithm this library's heuristic returned (data[0]); data[1] is its workspace need.
constexpr uint64_t kAlgoMark = 0x51564c4e4c54414cULL;

// The product that cuBLASLt descriptors describe, checked for shape; the pointers are filled in
// by the caller that has them.
cublasStatus_t lt_call(cublasLtMatmulDesc_t desc, cublasLtMatrixLayout_t a,
                       cublasLtMatrixLayout_t b, cublasLtMatrixLayout_t c,
                       cublasLtMatrixLayout_t d, GemmCall* call)
{
    if (!desc || !a || !b || !c || !d)
        return CUBLAS_STATUS_INVALID_VALUE;
    auto op_a = static_cast<cublasOperation_t>(desc->trans_a);
    auto op_b = static_cast<cublasOperation_t>(desc->trans_b);
    auto m = static_cast<int64_t>(c->rows), n = static_cast<int64_t>(c->cols);
    auto a_rows = static_cast<int64_t>(a->rows), a_cols = static_cast<int64_t>(a->cols);
    auto b_rows = static_cast<int64_t>(b->rows), b_cols = static_cast<int64_t>(b->cols);
    int64_t k = op_a == CUBLAS_OP_N ? a_cols : a_rows;
    // The layouts describe the stored matrices; op(A) must be m x k and op(B) k x n.
    bool shapes = (op_a == CUBLAS_OP_N ? a_rows : a_cols) == m &&
                  (op_b == CUBLAS_OP_N ? b_rows : b_cols) == k &&
                  (op_b == CUBLAS_OP_N ? b_cols : b_rows) == n && d->rows == c->rows &&
                  d->cols == c->cols && d->type == c->type;
    if (!shapes)
        return CUBLAS_STATUS_INVALID_VALUE;
    *call = GemmCall{op_a, op_b, m, n, k, a->type, b->type, c->type, nullptr, a->ld, nullptr,
                     b->ld, nullptr, c->ld, nullptr, d->ld,
                     static_cast<cublasComputeType_t>(desc->compute),
                     static_cast<cudaDataType>(desc->scale), nullptr, nullptr};
    return sim_gemm_check(*call);
}

bool aligned4(const void* p) { return reinterpret_cast<uintptr_t>(p) % 4 == 0; }

// On NVIDIA GPUs cuBLASLt multiplies INT8 column-major data only with its integer tensor-core
// kernels, which take A transposed and B not ("TN"), m, k and every leading dimension multiples
// of 4, and 4-byte aligned pointers (checked where the call has them).
cublasStatus_t nvidia_int8_rules(const GemmCall& g)
{
    if (sim_rules() != SimRules::nvidia || g.a_type != CUDA_R_8I)
        return CUBLAS_STATUS_SUCCESS;
    bool fits = g.op_a == CUBLAS_OP_T && g.op_b == CUBLAS_OP_N && g.m % 4 == 0 && g.k % 4 == 0 &&
                g.lda % 4 == 0 && g.ldb % 4 == 0 && g.ldc % 4 == 0 && g.ldd % 4 == 0;
    bool pointers = (!g.a || aligned4(g.a)) && (!g.b || aligned4(g.b)) && (!g.c || aligned4(g.c)) &&
                    (!g.d || aligned4(g.d));
    return fits && pointers ? CUBLAS_STATUS_SUCCESS : CUBLAS_STATUS_NOT_SUPPORTED;
}

}  // namespace

extern "C" {

cublasStatus_t cublasCreate_v2(cublasHandle_t* handle)
{
    int device = 0;
    if (!handle)
        return CUBLAS_STATUS_INVALID_VALUE;
    if (sim_should_fail("cublasCreate_v2") || !current_device(&device))
        return CUBLAS_STATUS_NOT_INITIALIZED;
    *handle = new cublasContext{device};
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasDestroy_v2(cublasHandle_t handle)
{
    if (sim_should_fail("cublasDestroy_v2") || !handle)
        return CUBLAS_STATUS_NOT_INITIALIZED;
    delete handle;
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasGemmEx(cublasHandle_t handle, cublasOperation_t transa,
                            cublasOperation_t transb, int m, int n, int k, const void* alpha,
                            const void* A, cudaDataType Atype, int lda, const void* B,
                            cudaDataType Btype, int ldb, const void* beta, void* C,
                            cudaDataType Ctype, int ldc, cublasComputeType_t computeType,
                            cublasGemmAlgo_t algo)
{
    if (!handle)
        return CUBLAS_STATUS_NOT_INITIALIZED;
    if (sim_should_fail("cublasGemmEx"))
        return CUBLAS_STATUS_EXECUTION_FAILED;
    if (algo != CUBLAS_GEMM_DEFAULT)
        return CUBLAS_STATUS_NOT_SUPPORTED;
    GemmCall call{transa, transb, m, n, k, Atype, Btype, Ctype, A, lda, B, ldb, C, ldc, C, ldc,
                  computeType, gemm_ex_scale(computeType), alpha, beta};
    return sim_gemm(call);
}

cublasStatus_t cublasDgemm_v2(cublasHandle_t handle, cublasOperation_t transa,
                              cublasOperation_t transb, int m, int n, int k, const double* alpha,
                              const double* A, int lda, const double* B, int ldb,
                              const double* beta, double* C, int ldc)
{
    if (!handle)
        return CUBLAS_STATUS_NOT_INITIALIZED;
    if (sim_should_fail("cublasDgemm_v2"))
        return CUBLAS_STATUS_EXECUTION_FAILED;
    GemmCall call{transa, transb, m, n, k, CUDA_R_64F, CUDA_R_64F, CUDA_R_64F, A, lda, B, ldb,
                  C, ldc, C, ldc, CUBLAS_COMPUTE_64F, CUDA_R_64F, alpha, beta};
    return sim_gemm(call);
}

cublasStatus_t cublasLtCreate(cublasLtHandle_t* lightHandle)
{
    int device = 0;
    if (!lightHandle)
        return CUBLAS_STATUS_INVALID_VALUE;
    if (sim_should_fail("cublasLtCreate") || !current_device(&device))
        return CUBLAS_STATUS_NOT_INITIALIZED;
    *lightHandle = new cublasLtContext{device};
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtDestroy(cublasLtHandle_t lightHandle)
{
    if (sim_should_fail("cublasLtDestroy") || !lightHandle)
        return CUBLAS_STATUS_NOT_INITIALIZED;
    delete lightHandle;
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatmulDescCreate(cublasLtMatmulDesc_t* matmulDesc,
                                        cublasComputeType_t computeType,
                                        cudaDataType_t scaleType)
{
    if (!matmulDesc)
        return CUBLAS_STATUS_INVALID_VALUE;
    if (sim_should_fail("cublasLtMatmulDescCreate"))
        return CUBLAS_STATUS_ALLOC_FAILED;
    *matmulDesc = new cublasLtMatmulDescOpaque{computeType, scaleType, CUBLAS_OP_N, CUBLAS_OP_N};
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatmulDescDestroy(cublasLtMatmulDesc_t matmulDesc)
{
    delete matmulDesc;
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatmulDescSetAttribute(cublasLtMatmulDesc_t matmulDesc,
                                              cublasLtMatmulDescAttributes_t attr,
                                              const void* buf, size_t sizeInBytes)
{
    if (sim_should_fail("cublasLtMatmulDescSetAttribute"))
        return CUBLAS_STATUS_INVALID_VALUE;
    if (!matmulDesc || !buf || sizeInBytes != sizeof(int32_t))
        return CUBLAS_STATUS_INVALID_VALUE;
    int32_t value;
    std::memcpy(&value, buf, sizeof value);
    switch (attr) {
    case CUBLASLT_MATMUL_DESC_COMPUTE_TYPE: matmulDesc->compute = value; break;
    case CUBLASLT_MATMUL_DESC_SCALE_TYPE: matmulDesc->scale = value; break;
    case CUBLASLT_MATMUL_DESC_TRANSA: matmulDesc->trans_a = value; break;
    case CUBLASLT_MATMUL_DESC_TRANSB: matmulDesc->trans_b = value; break;
    default: return CUBLAS_STATUS_INVALID_VALUE;
    }
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatrixLayoutCreate(cublasLtMatrixLayout_t* matLayout, cudaDataType type,
                                          uint64_t rows, uint64_t cols, int64_t ld)
{
    if (!matLayout)
        return CUBLAS_STATUS_INVALID_VALUE;
    if (sim_should_fail("cublasLtMatrixLayoutCreate"))
        return CUBLAS_STATUS_ALLOC_FAILED;
    *matLayout = new cublasLtMatrixLayoutOpaque{type, rows, cols, ld};
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatrixLayoutDestroy(cublasLtMatrixLayout_t matLayout)
{
    delete matLayout;
    return CUBLAS_STATUS_SUCCESS;
}

int quelvanSimNvidiaRules(void) { return sim_rules() == SimRules::nvidia; }

cublasStatus_t cublasLtMatmulPreferenceCreate(cublasLtMatmulPreference_t* pref)
{
    if (!pref)
        return CUBLAS_STATUS_INVALID_VALUE;
    if (sim_should_fail("cublasLtMatmulPreferenceCreate"))
        return CUBLAS_STATUS_ALLOC_FAILED;
    *pref = new cublasLtMatmulPreferenceOpaque;
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatmulPreferenceDestroy(cublasLtMatmulPreference_t pref)
{
    delete pref;
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatmulPreferenceSetAttribute(cublasLtMatmulPreference_t pref,
                                                    cublasLtMatmulPreferenceAttributes_t attr,
                                                    const void* buf, size_t sizeInBytes)
{
    if (sim_should_fail("cublasLtMatmulPreferenceSetAttribute") || !pref || !buf)
        return CUBLAS_STATUS_INVALID_VALUE;
    switch (attr) {
    case CUBLASLT_MATMUL_PREF_SEARCH_MODE:
        return sizeInBytes == sizeof(uint32_t) ? CUBLAS_STATUS_SUCCESS : CUBLAS_STATUS_INVALID_VALUE;
    case CUBLASLT_MATMUL_PREF_MAX_WORKSPACE_BYTES:
        if (sizeInBytes != sizeof(uint64_t))
            return CUBLAS_STATUS_INVALID_VALUE;
        std::memcpy(&pref->max_workspace, buf, sizeof(uint64_t));
        return CUBLAS_STATUS_SUCCESS;
    }
    return CUBLAS_STATUS_INVALID_VALUE;
}

cublasStatus_t cublasLtMatmulAlgoGetHeuristic(
    cublasLtHandle_t lightHandle, cublasLtMatmulDesc_t operationDesc, cublasLtMatrixLayout_t Adesc,
    cublasLtMatrixLayout_t Bdesc, cublasLtMatrixLayout_t Cdesc, cublasLtMatrixLayout_t Ddesc,
    cublasLtMatmulPreference_t preference, int requestedAlgoCount,
    cublasLtMatmulHeuristicResult_t heuristicResultsArray[], int* returnAlgoCount)
{
    if (!lightHandle)
        return CUBLAS_STATUS_NOT_INITIALIZED;
    if (!preference || requestedAlgoCount <= 0 || !heuristicResultsArray || !returnAlgoCount)
        return CUBLAS_STATUS_INVALID_VALUE;
    *returnAlgoCount = 0;
    if (sim_should_fail("cublasLtMatmulAlgoGetHeuristic"))
        return CUBLAS_STATUS_NOT_SUPPORTED;
    GemmCall call;
    cublasStatus_t status = lt_call(operationDesc, Adesc, Bdesc, Cdesc, Ddesc, &call);
    if (status == CUBLAS_STATUS_SUCCESS)
        status = nvidia_int8_rules(call);
    if (status != CUBLAS_STATUS_SUCCESS)
        return status;
    cublasLtMatmulHeuristicResult_t& best = heuristicResultsArray[0];
    best = cublasLtMatmulHeuristicResult_t{};
    best.algo.data[0] = kAlgoMark;
    best.algo.data[1] = preference->max_workspace;
    best.workspaceSize = preference->max_workspace;
    best.state = CUBLAS_STATUS_SUCCESS;
    best.wavesCount = 1.0f;
    *returnAlgoCount = 1;
    return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasLtMatmul(cublasLtHandle_t lightHandle, cublasLtMatmulDesc_t computeDesc,
                              const void* alpha, const void* A, cublasLtMatrixLayout_t Adesc,
                              const void* B, cublasLtMatrixLayout_t Bdesc, const void* beta,
                              const void* C, cublasLtMatrixLayout_t Cdesc, void* D,
                              cublasLtMatrixLayout_t Ddesc, const cublasLtMatmulAlgo_t* algo,
                              void* workspace, size_t workspaceSizeInBytes, cudaStream_t stream)
{
    (void)stream;
    if (!lightHandle)
        return CUBLAS_STATUS_NOT_INITIALIZED;
    if (sim_should_fail("cublasLtMatmul"))
        return CUBLAS_STATUS_EXECUTION_FAILED;
    // An algorithm from the heuristic runs only with the workspace it asked for.
    if (algo && (algo->data[0] != kAlgoMark || workspaceSizeInBytes < algo->data[1] ||
                 (algo->data[1] > 0 && !workspace)))
        return CUBLAS_STATUS_INVALID_VALUE;
    GemmCall call;
    cublasStatus_t status = lt_call(computeDesc, Adesc, Bdesc, Cdesc, Ddesc, &call);
    if (status != CUBLAS_STATUS_SUCCESS)
        return status;
    call.a = A, call.b = B, call.c = C, call.d = D, call.alpha = alpha, call.beta = beta;
    if (cublasStatus_t rules = nvidia_int8_rules(call); rules != CUBLAS_STATUS_SUCCESS)
        return rules;
    return sim_gemm(call);
}

}  // extern "C"
