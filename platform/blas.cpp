// cuBLAS and cuBLASLt of the emulated GPUs: handles and descriptors are plain records; every
// product goes to sim_gemm.
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

cublasStatus_t cublasLtMatmul(cublasLtHandle_t lightHandle, cublasLtMatmulDesc_t computeDesc,
                              const void* alpha, const void* A, cublasLtMatrixLayout_t Adesc,
                              const void* B, cublasLtMatrixLayout_t Bdesc, const void* beta,
                              const void* C, cublasLtMatrixLayout_t Cdesc, void* D,
                              cublasLtMatrixLayout_t Ddesc, const cublasLtMatmulAlgo_t* algo,
                              void* workspace, size_t workspaceSizeInBytes, cudaStream_t stream)
{
    (void)algo, (void)workspace, (void)workspaceSizeInBytes, (void)stream;
    if (!lightHandle)
        return CUBLAS_STATUS_NOT_INITIALIZED;
    if (sim_should_fail("cublasLtMatmul"))
        return CUBLAS_STATUS_EXECUTION_FAILED;
    if (!computeDesc || !Adesc || !Bdesc || !Cdesc || !Ddesc)
        return CUBLAS_STATUS_INVALID_VALUE;
    auto op_a = static_cast<cublasOperation_t>(computeDesc->trans_a);
    auto op_b = static_cast<cublasOperation_t>(computeDesc->trans_b);
    auto m = static_cast<int64_t>(Cdesc->rows), n = static_cast<int64_t>(Cdesc->cols);
    auto a_rows = static_cast<int64_t>(Adesc->rows), a_cols = static_cast<int64_t>(Adesc->cols);
    auto b_rows = static_cast<int64_t>(Bdesc->rows), b_cols = static_cast<int64_t>(Bdesc->cols);
    int64_t k = op_a == CUBLAS_OP_N ? a_cols : a_rows;
    // The layouts describe the stored matrices; op(A) must be m x k and op(B) k x n.
    bool shapes = (op_a == CUBLAS_OP_N ? a_rows : a_cols) == m &&
                  (op_b == CUBLAS_OP_N ? b_rows : b_cols) == k &&
                  (op_b == CUBLAS_OP_N ? b_cols : b_rows) == n && Ddesc->rows == Cdesc->rows &&
                  Ddesc->cols == Cdesc->cols && Ddesc->type == Cdesc->type;
    if (!shapes)
        return CUBLAS_STATUS_INVALID_VALUE;
    GemmCall call{op_a, op_b, m, n, k, Adesc->type, Bdesc->type, Cdesc->type, A, Adesc->ld, B,
                  Bdesc->ld, C, Cdesc->ld, D, Ddesc->ld,
                  static_cast<cublasComputeType_t>(computeDesc->compute),
                  static_cast<cudaDataType>(computeDesc->scale), alpha, beta};
    return sim_gemm(call);
}

}  // extern "C"
