// Driver calls of the emulated GPUs: contexts are records bound to one GPU, kept on a stack per
// thread as the driver does.
#include <cuda.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "sim_config.h"
#include "sim_internal.h"

struct CUctx_st {
    int device;
};

namespace {

std::atomic<bool> g_initialised{false};
std::mutex g_contexts_mutex;
std::set<CUcontext> g_contexts;
thread_local std::vector<CUcontext> t_stack;

bool live(CUcontext ctx)
{
    std::lock_guard<std::mutex> lock(g_contexts_mutex);
    return g_contexts.count(ctx) != 0;
}

CUresult ready()
{
    return g_initialised ? CUDA_SUCCESS : CUDA_ERROR_NOT_INITIALIZED;
}

struct ErrorText {
    CUresult code;
    const char* name;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {CUDA_SUCCESS, "CUDA_SUCCESS", "no error"},
    {CUDA_ERROR_INVALID_VALUE, "CUDA_ERROR_INVALID_VALUE", "invalid argument"},
    {CUDA_ERROR_OUT_OF_MEMORY, "CUDA_ERROR_OUT_OF_MEMORY", "out of memory"},
    {CUDA_ERROR_NOT_INITIALIZED, "CUDA_ERROR_NOT_INITIALIZED", "initialization error"},
    {CUDA_ERROR_DEINITIALIZED, "CUDA_ERROR_DEINITIALIZED", "driver shutting down"},
    {CUDA_ERROR_NO_DEVICE, "CUDA_ERROR_NO_DEVICE", "no CUDA-capable device is detected"},
    {CUDA_ERROR_INVALID_DEVICE, "CUDA_ERROR_INVALID_DEVICE", "invalid device ordinal"},
    {CUDA_ERROR_INVALID_CONTEXT, "CUDA_ERROR_INVALID_CONTEXT", "invalid device context"},
    {CUDA_ERROR_INVALID_HANDLE, "CUDA_ERROR_INVALID_HANDLE", "invalid resource handle"},
    {CUDA_ERROR_NOT_FOUND, "CUDA_ERROR_NOT_FOUND", "named symbol not found"},
    {CUDA_ERROR_NOT_READY, "CUDA_ERROR_NOT_READY", "device not ready"},
    {CUDA_ERROR_NOT_SUPPORTED, "CUDA_ERROR_NOT_SUPPORTED", "operation not supported"},
    {CUDA_ERROR_UNKNOWN, "CUDA_ERROR_UNKNOWN", "unknown error"},
};

const ErrorText* find_error(CUresult error)
{
    for (const ErrorText& e : kErrorTexts)
        if (e.code == error)
            return &e;
    return nullptr;
}

}  // namespace

int sim_context_device(CUcontext ctx) { return live(ctx) ? ctx->device : -1; }

CUcontext sim_current_context() { return t_stack.empty() ? nullptr : t_stack.back(); }

extern "C" {

CUresult cuInit(unsigned int Flags)
{
    if (sim_should_fail("cuInit"))
        return CUDA_ERROR_NOT_INITIALIZED;
    if (Flags != 0)
        return CUDA_ERROR_INVALID_VALUE;
    if (sim_gpu_count() == 0)
        return CUDA_ERROR_NO_DEVICE;
    g_initialised = true;
    return CUDA_SUCCESS;
}

CUresult cuDeviceGetCount(int* count)
{
    if (sim_should_fail("cuDeviceGetCount"))
        return CUDA_ERROR_UNKNOWN;
    if (!count)
        return CUDA_ERROR_INVALID_VALUE;
    if (ready() != CUDA_SUCCESS)
        return ready();
    *count = sim_gpu_count();
    return CUDA_SUCCESS;
}

CUresult cuDeviceGet(CUdevice* device, int ordinal)
{
    if (sim_should_fail("cuDeviceGet"))
        return CUDA_ERROR_INVALID_DEVICE;
    if (!device)
        return CUDA_ERROR_INVALID_VALUE;
    if (ready() != CUDA_SUCCESS)
        return ready();
    if (ordinal < 0 || ordinal >= sim_gpu_count())
        return CUDA_ERROR_INVALID_DEVICE;
    *device = ordinal;
    return CUDA_SUCCESS;
}

CUresult cuDeviceGetName(char* name, int len, CUdevice dev)
{
    if (sim_should_fail("cuDeviceGetName"))
        return CUDA_ERROR_UNKNOWN;
    if (!name || len <= 0)
        return CUDA_ERROR_INVALID_VALUE;
    if (ready() != CUDA_SUCCESS)
        return ready();
    if (dev < 0 || dev >= sim_gpu_count())
        return CUDA_ERROR_INVALID_DEVICE;
    std::snprintf(name, static_cast<size_t>(len), "Quelvan emulated GPU %d", dev);
    return CUDA_SUCCESS;
}

CUresult cuDeviceGetPCIBusId(char* pciBusId, int len, CUdevice dev)
{
    if (!pciBusId || len <= 0)
        return CUDA_ERROR_INVALID_VALUE;
    if (ready() != CUDA_SUCCESS)
        return ready();
    if (dev < 0 || dev >= sim_gpu_count())
        return CUDA_ERROR_INVALID_DEVICE;
    std::snprintf(pciBusId, static_cast<size_t>(len), "%s", sim_pci_bus_id(dev).c_str());
    return CUDA_SUCCESS;
}

CUresult cuCtxCreate_v2(CUcontext* pctx, unsigned int flags, CUdevice dev)
{
    (void)flags;
    if (sim_should_fail("cuCtxCreate_v2"))
        return CUDA_ERROR_OUT_OF_MEMORY;
    if (!pctx)
        return CUDA_ERROR_INVALID_VALUE;
    if (ready() != CUDA_SUCCESS)
        return ready();
    if (dev < 0 || dev >= sim_gpu_count())
        return CUDA_ERROR_INVALID_DEVICE;
    *pctx = new CUctx_st{dev};
    {
        std::lock_guard<std::mutex> lock(g_contexts_mutex);
        g_contexts.insert(*pctx);
    }
    t_stack.push_back(*pctx);
    return CUDA_SUCCESS;
}

CUresult cuCtxDestroy_v2(CUcontext ctx)
{
    if (sim_should_fail("cuCtxDestroy_v2"))
        return CUDA_ERROR_UNKNOWN;
    {
        std::lock_guard<std::mutex> lock(g_contexts_mutex);
        if (!ctx || g_contexts.erase(ctx) == 0)
            return CUDA_ERROR_INVALID_CONTEXT;
    }
    // Destroying the calling thread's current context also pops it.
    if (!t_stack.empty() && t_stack.back() == ctx)
        t_stack.pop_back();
    delete ctx;
    return CUDA_SUCCESS;
}

CUresult cuCtxPushCurrent_v2(CUcontext ctx)
{
    if (sim_should_fail("cuCtxPushCurrent_v2"))
        return CUDA_ERROR_UNKNOWN;
    if (!ctx || !live(ctx))
        return CUDA_ERROR_INVALID_CONTEXT;
    t_stack.push_back(ctx);
    return CUDA_SUCCESS;
}

CUresult cuCtxPopCurrent_v2(CUcontext* pctx)
{
    if (sim_should_fail("cuCtxPopCurrent_v2"))
        return CUDA_ERROR_UNKNOWN;
    if (t_stack.empty())
        return CUDA_ERROR_INVALID_CONTEXT;
    if (pctx)
        *pctx = t_stack.back();
    t_stack.pop_back();
    return CUDA_SUCCESS;
}

CUresult cuMemcpyDtoH_v2(void* dstHost, CUdeviceptr srcDevice, size_t ByteCount)
{
    if (sim_should_fail("cuMemcpyDtoH_v2"))
        return CUDA_ERROR_UNKNOWN;
    if (!sim_current_context() || !live(sim_current_context()))
        return CUDA_ERROR_INVALID_CONTEXT;
    if (ByteCount == 0)
        return CUDA_SUCCESS;
    const auto* src = reinterpret_cast<const void*>(static_cast<uintptr_t>(srcDevice));
    if (!dstHost || !src)
        return CUDA_ERROR_INVALID_VALUE;
    // A copy that starts in device memory must stay inside that allocation.
    if (sim_device_pointer(src) && !sim_device_range(src, ByteCount))
        return CUDA_ERROR_INVALID_VALUE;
    std::memcpy(dstHost, src, ByteCount);
    return CUDA_SUCCESS;
}

CUresult cuGetErrorName(CUresult error, const char** pStr)
{
    const ErrorText* e = find_error(error);
    if (!pStr)
        return CUDA_ERROR_INVALID_VALUE;
    *pStr = e ? e->name : nullptr;
    return e ? CUDA_SUCCESS : CUDA_ERROR_INVALID_VALUE;
}

CUresult cuGetErrorString(CUresult error, const char** pStr)
{
    const ErrorText* e = find_error(error);
    if (!pStr)
        return CUDA_ERROR_INVALID_VALUE;
    *pStr = e ? e->text : nullptr;
    return e ? CUDA_SUCCESS : CUDA_ERROR_INVALID_VALUE;
}

}  // extern "C"
