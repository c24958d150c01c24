// Configuration and test hooks of the emulated GPU platform, shared with the emulated video
// decoder library (platform/video/). Not part of any vendor interface.
//
// Environment variables, read once at first use (a bad value stops the program with a message
// naming the variable):
//   QUELVAN_SIM_GPUS    number of emulated GPUs, default 1, 0 allowed (no GPU)
//   QUELVAN_SIM_CC      compute capability "major.minor", one value or a comma list per GPU,
//                       default 8.0
//   QUELVAN_SIM_MEM_MB  device memory per GPU in MiB, default 16384
//   QUELVAN_SIM_FAIL    failure injection, comma list of api[@n]: the n-th call (1-based,
//                       default 1) of that API fails with a non-zero status. The API names are
//                       the call names (cudaMalloc, cublasLtMatmul, cuCtxCreate_v2, cuvid...).
//                       The special entry gemm_result[@n] corrupts the result of the n-th GEMM
//                       call (any of cublasGemmEx, cublasDgemm_v2, cublasLtMatmul) and of every
//                       later one, while the call still reports success: it shows that a result
//                       check really fails.
//   QUELVAN_SIM_RULES   which library's rules the BLAS calls follow: "generic" (default) accepts
//                       every layout the arithmetic allows; "nvidia" also refuses, with the
//                       vendor library's status codes, what cuBLAS and cuBLASLt refuse on NVIDIA
//                       GPUs (INT8 products outside the "TN" form, INT8 sizes, leading
//                       dimensions and pointers not multiples of 4, type combinations the vendor
//                       tables lack, a workspace smaller than the chosen algorithm needs).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <cuda.h>

enum class SimRules { generic, nvidia };

struct SimGpu {
    int major = 8;
    int minor = 0;
    size_t total_bytes = 0;
};

// What the variables configure: the GPUs, for each API of QUELVAN_SIM_FAIL the 1-based number of
// the call that fails, and the BLAS rules.
struct SimSettings {
    std::vector<SimGpu> gpus;
    std::map<std::string, long long> fail_at;
    SimRules rules = SimRules::generic;
};
// A variable with a bad value: its name, the value, and why it is refused.
struct SimEnvError {
    const char* name = "";
    std::string value;
    const char* why = "";
};
// Reads the settings from the values of QUELVAN_SIM_GPUS, _CC, _MEM_MB, _FAIL and _RULES (null
// when unset). False, with error filled, for a bad value.
bool read_sim_settings(const char* gpus, const char* cc, const char* mem_mb, const char* fail,
                       const char* rules, SimSettings& settings, SimEnvError& error);

// The emulated GPUs, configured from the environment on first use.
int sim_gpu_count();
const SimGpu& sim_gpu(int index);
SimRules sim_rules();

// Counts one call of `api` and says whether this call is to fail by QUELVAN_SIM_FAIL. Every
// emulated call checks itself here before doing anything; the video library calls it with its
// own call names (for example sim_should_fail("cuvidCreateDecoder")).
bool sim_should_fail(const char* api);

// True when GEMM results are to be corrupted from this call on (the gemm_result entry); counts
// one GEMM call.
bool sim_corrupt_gemm();

// Device memory accounted on GPU `device` (lazily mapped, so untouched memory costs nothing).
// Returns nullptr when the GPU has not enough free memory. The runtime's cudaMalloc and the
// driver's copies use the same accounting.
void* sim_device_alloc(int device, size_t bytes);
// Frees what sim_device_alloc or cudaMalloc returned; false for an unknown pointer.
bool sim_device_free(void* ptr);

// The GPU a live driver context belongs to, or -1 for an unknown context.
int sim_context_device(CUcontext ctx);
// The context on top of the calling thread's context stack, or nullptr.
CUcontext sim_current_context();
