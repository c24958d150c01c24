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

// Called with the error line before a failed call ends the program; it may end the program
// itself (with its own status). Null: the status is 1.
extern void (*cuda_failure_handler)(const char* line);

void __checkCudaErrors(CUresult status, const char* file, int line);

#define checkCudaErrors(call) __checkCudaErrors((call), __FILE__, __LINE__)
