// The one place where the GPU programs adapt to the installed platform version.
//
// The programs speak the classic type codes (0 single, 1 double, 10 signed 32-bit) for the compute
// type of a product. Since version 11 the BLAS libraries take a separate compute-type enum there.
// Programs call the helpers below instead of spreading version tests.
#pragma once

#include <cublasLt.h>
#include <cublas_v2.h>
#include <cuda_runtime.h>
#include <library_types.h>

#if defined(CUBLAS_VER_MAJOR) && CUBLAS_VER_MAJOR >= 11
using gpu_compute_type_t = cublasComputeType_t;

// Maps a classic type code to the compute type of the same precision.
inline cublasComputeType_t gpu_compute_type(int code)
{
    switch (code) {
    case CUDA_R_64F: return CUBLAS_COMPUTE_64F;
    case CUDA_R_32I: return CUBLAS_COMPUTE_32I;
    case CUDA_R_16F: return CUBLAS_COMPUTE_16F;
    default: return CUBLAS_COMPUTE_32F;
    }
}
#else
using gpu_compute_type_t = cudaDataType;

inline cudaDataType gpu_compute_type(int code) { return static_cast<cudaDataType>(code); }
#endif

// cublasLtMatmulDescCreate with a classic compute-type code; the scale type is only a separate
// argument from version 11 on (before, attribute 1 carries it alone).
inline cublasStatus_t gpu_lt_desc_create(cublasLtMatmulDesc_t* desc, int compute_code,
                                         int scale_code)
{
#if defined(CUBLAS_VER_MAJOR) && CUBLAS_VER_MAJOR >= 11
    return cublasLtMatmulDescCreate(desc, gpu_compute_type(compute_code),
                                    static_cast<cudaDataType>(scale_code));
#else
    (void)scale_code;
    return cublasLtMatmulDescCreate(desc, static_cast<cudaDataType>(compute_code));
#endif
}

// NVIDIA's cuBLASLt multiplies INT8 column-major data only with its integer tensor-core kernels,
// which need m and k (and so the leading dimensions of the "TN" form) to be multiples of 4. The
// emulated library follows NVIDIA's rules only when asked to and says so itself.
inline bool gpu_int8_needs_multiple_of_4()
{
#ifdef QUELVAN_SIM_BLAS
    return quelvanSimNvidiaRules() != 0;
#else
    return true;
#endif
}
