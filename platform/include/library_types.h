// Element type codes shared by the runtime and the BLAS libraries of the emulated GPU platform.
#pragma once

typedef enum cudaDataType_t {
    CUDA_R_32F = 0,
    CUDA_R_64F = 1,
    CUDA_R_16F = 2,
    CUDA_R_8I = 3,
    CUDA_R_32I = 10,
    CUDA_R_16BF = 14,
} cudaDataType;

#ifndef __cplusplus
typedef enum cudaDataType_t cudaDataType_t;
#endif
