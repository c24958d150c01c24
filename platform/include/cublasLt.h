// Light-weight matmul interface of the emulated BLAS library: descriptors, the heuristic that
// chooses an algorithm and its workspace, and the product call.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "cublas_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct cublasLtContext* cublasLtHandle_t;
typedef struct cublasLtMatmulDescOpaque* cublasLtMatmulDesc_t;
typedef struct cublasLtMatrixLayoutOpaque* cublasLtMatrixLayout_t;
typedef struct cublasLtMatmulPreferenceOpaque* cublasLtMatmulPreference_t;

typedef struct {
    uint64_t data[8];
} cublasLtMatmulAlgo_t;

typedef enum {
    CUBLASLT_MATMUL_DESC_COMPUTE_TYPE = 0,
    CUBLASLT_MATMUL_DESC_SCALE_TYPE = 1,
    CUBLASLT_MATMUL_DESC_POINTER_MODE = 2,
    CUBLASLT_MATMUL_DESC_TRANSA = 3,
    CUBLASLT_MATMUL_DESC_TRANSB = 4,
} cublasLtMatmulDescAttributes_t;

typedef enum {
    CUBLASLT_MATMUL_PREF_SEARCH_MODE = 0,
    CUBLASLT_MATMUL_PREF_MAX_WORKSPACE_BYTES = 1,  // uint64_t
} cublasLtMatmulPreferenceAttributes_t;

typedef struct {
    cublasLtMatmulAlgo_t algo;
    size_t workspaceSize;  // what the algorithm needs at least
    cublasStatus_t state;
    float wavesCount;
    int reserved[4];
} cublasLtMatmulHeuristicResult_t;

cublasStatus_t cublasLtCreate(cublasLtHandle_t* lightHandle);
cublasStatus_t cublasLtDestroy(cublasLtHandle_t lightHandle);

cublasStatus_t cublasLtMatmulDescCreate(cublasLtMatmulDesc_t* matmulDesc,
                                        cublasComputeType_t computeType,
                                        cudaDataType_t scaleType);
cublasStatus_t cublasLtMatmulDescDestroy(cublasLtMatmulDesc_t matmulDesc);
cublasStatus_t cublasLtMatmulDescSetAttribute(cublasLtMatmulDesc_t matmulDesc,
                                              cublasLtMatmulDescAttributes_t attr,
                                              const void* buf, size_t sizeInBytes);

cublasStatus_t cublasLtMatrixLayoutCreate(cublasLtMatrixLayout_t* matLayout, cudaDataType type,
                                          uint64_t rows, uint64_t cols, int64_t ld);
cublasStatus_t cublasLtMatrixLayoutDestroy(cublasLtMatrixLayout_t matLayout);

cublasStatus_t cublasLtMatmulPreferenceCreate(cublasLtMatmulPreference_t* pref);
cublasStatus_t cublasLtMatmulPreferenceDestroy(cublasLtMatmulPreference_t pref);
cublasStatus_t cublasLtMatmulPreferenceSetAttribute(cublasLtMatmulPreference_t pref,
                                                    cublasLtMatmulPreferenceAttributes_t attr,
                                                    const void* buf, size_t sizeInBytes);

// Fills up to requestedAlgoCount results, best first; CUBLAS_STATUS_NOT_SUPPORTED and a count
// of 0 when no algorithm can compute the product.
cublasStatus_t cublasLtMatmulAlgoGetHeuristic(
    cublasLtHandle_t lightHandle, cublasLtMatmulDesc_t operationDesc, cublasLtMatrixLayout_t Adesc,
    cublasLtMatrixLayout_t Bdesc, cublasLtMatrixLayout_t Cdesc, cublasLtMatrixLayout_t Ddesc,
    cublasLtMatmulPreference_t preference, int requestedAlgoCount,
    cublasLtMatmulHeuristicResult_t heuristicResultsArray[], int* returnAlgoCount);

cublasStatus_t cublasLtMatmul(cublasLtHandle_t lightHandle, cublasLtMatmulDesc_t computeDesc,
                              const void* alpha, const void* A, cublasLtMatrixLayout_t Adesc,
                              const void* B, cublasLtMatrixLayout_t Bdesc, const void* beta,
                              const void* C, cublasLtMatrixLayout_t Cdesc, void* D,
                              cublasLtMatrixLayout_t Ddesc, const cublasLtMatmulAlgo_t* algo,
                              void* workspace, size_t workspaceSizeInBytes, cudaStream_t stream);

// Not a vendor call: non-zero when this emulated library follows NVIDIA's rules
// (QUELVAN_SIM_RULES=nvidia), so a program can refuse early what those rules refuse.
#define QUELVAN_SIM_BLAS 1
int quelvanSimNvidiaRules(void);

#ifdef __cplusplus
}
#endif
