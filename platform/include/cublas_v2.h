// Entry header of the emulated BLAS library; maps the plain names to the _v2 calls.
#pragma once

#include "cublas_api.h"

#define cublasCreate cublasCreate_v2
#define cublasDestroy cublasDestroy_v2
#define cublasDgemm cublasDgemm_v2
