// The one check every fatal driver call goes through: it names the status, the source file and the
// line of the call, and ends the program with exit status 1.
#pragma once

#include <cuda.h>

struct CudaDrvErrorName {
    const char* error_string;
    int error_id;
};

// The status names, ending with the sentinel code -1.
extern const CudaDrvErrorName sCudaDrvErrorString[];

// The name of a driver status, or "CUDA_ERROR not found!".
const char* getCudaDrvErrorString(int status);

void __checkCudaErrors(CUresult status, const char* file, int line);

#define checkCudaErrors(call) __checkCudaErrors((call), __FILE__, __LINE__)
