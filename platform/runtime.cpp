// The runtime calls of the emulated GPUs. Streams run each operation when it is queued, which
// keeps stream order trivially; events take the host's steady clock at that moment, so the time
// between two events is the time the operations between them took.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include <cuda_runtime_api.h>

#include "sim_config.h"
#include "sim_internal.h"

struct CUstream_st {
    int device;
    unsigned int flags;
};

struct CUevent_st {
    int device;
    bool recorded = false;
    std::chrono::steady_clock::time_point at;
};

namespace {

thread_local int t_device = 0;
thread_local cudaError_t t_last_error = cudaSuccess;

// Live streams and events, so that a stale or foreign handle is refused instead of followed.
std::mutex g_handles_mutex;
std::set<const void*> g_handles;

cudaError_t done(cudaError_t status)
{
    if (status != cudaSuccess)
        t_last_error = status;
    return status;
}

bool live(const void* handle)
{
    std::lock_guard<std::mutex> lock(g_handles_mutex);
    return g_handles.count(handle) != 0;
}

void track(const void* handle)
{
    std::lock_guard<std::mutex> lock(g_handles_mutex);
    g_handles.insert(handle);
}

bool untrack(const void* handle)
{
    std::lock_guard<std::mutex> lock(g_handles_mutex);
    return g_handles.erase(handle) != 0;
}

bool valid_device(int device) { return device >= 0 && device < sim_gpu_count(); }

// Checks the pointers of a copy against the device allocations its kind names, then copies.
cudaError_t copy(void* dst, const void* src, size_t count, cudaMemcpyKind kind)
{
    if (count == 0)
        return cudaSuccess;
    if (!dst || !src)
        return cudaErrorInvalidValue;
    bool dst_device = kind == cudaMemcpyHostToDevice || kind == cudaMemcpyDeviceToDevice;
    bool src_device = kind == cudaMemcpyDeviceToHost || kind == cudaMemcpyDeviceToDevice;
    switch (kind) {
    case cudaMemcpyHostToHost:
    case cudaMemcpyHostToDevice:
    case cudaMemcpyDeviceToHost:
    case cudaMemcpyDeviceToDevice:
        break;
    case cudaMemcpyDefault:
        dst_device = sim_device_pointer(dst);
        src_device = sim_device_pointer(src);
        break;
    default:
        return cudaErrorInvalidMemcpyDirection;
    }
    if ((dst_device && !sim_device_range(dst, count)) ||
        (src_device && !sim_device_range(src, count)))
        return cudaErrorInvalidValue;
    std::memmove(dst, src, count);
    return cudaSuccess;
}

int stream_device(cudaStream_t stream) { return stream ? stream->device : t_device; }

}  // namespace

extern "C" {

cudaError_t cudaGetDeviceCount(int* count)
{
    if (sim_should_fail("cudaGetDeviceCount"))
        return done(cudaErrorInitializationError);
    if (!count)
        return done(cudaErrorInvalidValue);
    *count = sim_gpu_count();
    return done(*count == 0 ? cudaErrorNoDevice : cudaSuccess);
}

cudaError_t cudaSetDevice(int device)
{
    if (sim_should_fail("cudaSetDevice"))
        return done(cudaErrorInvalidDevice);
    if (!valid_device(device))
        return done(sim_gpu_count() == 0 ? cudaErrorNoDevice : cudaErrorInvalidDevice);
    t_device = device;
    return cudaSuccess;
}

cudaError_t cudaGetDevice(int* device)
{
    if (!device)
        return done(cudaErrorInvalidValue);
    *device = t_device;
    return cudaSuccess;
}

cudaError_t cudaDeviceGetPCIBusId(char* pciBusId, int len, int device)
{
    if (!pciBusId || len <= 0)
        return done(cudaErrorInvalidValue);
    if (!valid_device(device))
        return done(cudaErrorInvalidDevice);
    std::snprintf(pciBusId, static_cast<size_t>(len), "%s", sim_pci_bus_id(device).c_str());
    return cudaSuccess;
}

cudaError_t cudaGetDeviceProperties(cudaDeviceProp* prop, int device)
{
    if (sim_should_fail("cudaGetDeviceProperties"))
        return done(cudaErrorInvalidDevice);
    if (!prop)
        return done(cudaErrorInvalidValue);
    if (!valid_device(device))
        return done(cudaErrorInvalidDevice);
    const SimGpu& gpu = sim_gpu(device);
    *prop = cudaDeviceProp{};
    std::snprintf(prop->name, sizeof prop->name, "Quelvan emulated GPU %d", device);
    prop->totalGlobalMem = gpu.total_bytes;
    prop->major = gpu.major;
    prop->minor = gpu.minor;
    return cudaSuccess;
}

cudaError_t cudaDeviceSynchronize(void)
{
    if (sim_should_fail("cudaDeviceSynchronize"))
        return done(cudaErrorUnknown);
    // Queued work has already run; only the device must exist.
    return done(valid_device(t_device) ? cudaSuccess : cudaErrorNoDevice);
}

cudaError_t cudaMalloc(void** devPtr, size_t size)
{
    if (!devPtr)
        return done(cudaErrorInvalidValue);
    *devPtr = nullptr;
    if (sim_should_fail("cudaMalloc"))
        return done(cudaErrorMemoryAllocation);
    if (!valid_device(t_device))
        return done(cudaErrorNoDevice);
    if (size == 0)
        return cudaSuccess;
    *devPtr = sim_device_alloc(t_device, size);
    return done(*devPtr ? cudaSuccess : cudaErrorMemoryAllocation);
}

cudaError_t cudaFree(void* devPtr)
{
    if (sim_should_fail("cudaFree"))
        return done(cudaErrorUnknown);
    if (!devPtr)
        return cudaSuccess;
    return done(sim_device_free(devPtr) ? cudaSuccess : cudaErrorInvalidValue);
}

cudaError_t cudaMemGetInfo(size_t* free, size_t* total)
{
    if (sim_should_fail("cudaMemGetInfo"))
        return done(cudaErrorUnknown);
    if (!free || !total)
        return done(cudaErrorInvalidValue);
    if (!valid_device(t_device))
        return done(cudaErrorNoDevice);
    *total = sim_gpu(t_device).total_bytes;
    *free = *total - sim_device_used(t_device);
    return cudaSuccess;
}

cudaError_t cudaMallocHost(void** ptr, size_t size)
{
    if (!ptr)
        return done(cudaErrorInvalidValue);
    *ptr = nullptr;
    if (sim_should_fail("cudaMallocHost"))
        return done(cudaErrorMemoryAllocation);
    if (size == 0)
        return cudaSuccess;
    *ptr = sim_host_alloc(size);
    return done(*ptr ? cudaSuccess : cudaErrorMemoryAllocation);
}

cudaError_t cudaFreeHost(void* ptr)
{
    if (sim_should_fail("cudaFreeHost"))
        return done(cudaErrorUnknown);
    if (!ptr)
        return cudaSuccess;
    return done(sim_host_free(ptr) ? cudaSuccess : cudaErrorInvalidValue);
}

cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind)
{
    if (sim_should_fail("cudaMemcpy"))
        return done(cudaErrorUnknown);
    return done(copy(dst, src, count, kind));
}

cudaError_t cudaMemcpyAsync(void* dst, const void* src, size_t count, cudaMemcpyKind kind,
                            cudaStream_t stream)
{
    if (sim_should_fail("cudaMemcpyAsync"))
        return done(cudaErrorUnknown);
    if (stream && !live(stream))
        return done(cudaErrorInvalidResourceHandle);
    return done(copy(dst, src, count, kind));
}

cudaError_t cudaStreamCreateWithFlags(cudaStream_t* pStream, unsigned int flags)
{
    if (sim_should_fail("cudaStreamCreateWithFlags"))
        return done(cudaErrorUnknown);
    if (!pStream || flags > cudaStreamNonBlocking)
        return done(cudaErrorInvalidValue);
    if (!valid_device(t_device))
        return done(cudaErrorNoDevice);
    *pStream = new CUstream_st{t_device, flags};
    track(*pStream);
    return cudaSuccess;
}

cudaError_t cudaStreamDestroy(cudaStream_t stream)
{
    if (sim_should_fail("cudaStreamDestroy"))
        return done(cudaErrorUnknown);
    if (!stream || !untrack(stream))
        return done(cudaErrorInvalidResourceHandle);
    delete stream;
    return cudaSuccess;
}

cudaError_t cudaStreamSynchronize(cudaStream_t stream)
{
    if (sim_should_fail("cudaStreamSynchronize"))
        return done(cudaErrorUnknown);
    return done(!stream || live(stream) ? cudaSuccess : cudaErrorInvalidResourceHandle);
}

cudaError_t cudaEventCreate(cudaEvent_t* event)
{
    if (sim_should_fail("cudaEventCreate"))
        return done(cudaErrorUnknown);
    if (!event)
        return done(cudaErrorInvalidValue);
    if (!valid_device(t_device))
        return done(cudaErrorNoDevice);
    *event = new CUevent_st{t_device, false, {}};
    track(*event);
    return cudaSuccess;
}

cudaError_t cudaEventRecord(cudaEvent_t event, cudaStream_t stream)
{
    if (sim_should_fail("cudaEventRecord"))
        return done(cudaErrorUnknown);
    if (!event || !live(event) || (stream && !live(stream)))
        return done(cudaErrorInvalidResourceHandle);
    // An event belongs to the GPU current at its creation; it can only mark that GPU's streams.
    if (event->device != stream_device(stream))
        return done(cudaErrorInvalidResourceHandle);
    event->at = std::chrono::steady_clock::now();
    event->recorded = true;
    return cudaSuccess;
}

cudaError_t cudaEventElapsedTime(float* ms, cudaEvent_t start, cudaEvent_t end)
{
    if (sim_should_fail("cudaEventElapsedTime"))
        return done(cudaErrorUnknown);
    if (!ms)
        return done(cudaErrorInvalidValue);
    if (!start || !end || !live(start) || !live(end) || !start->recorded || !end->recorded)
        return done(cudaErrorInvalidResourceHandle);
    *ms = std::chrono::duration<float, std::milli>(end->at - start->at).count();
    return cudaSuccess;
}

cudaError_t cudaEventDestroy(cudaEvent_t event)
{
    if (sim_should_fail("cudaEventDestroy"))
        return done(cudaErrorUnknown);
    if (!event || !untrack(event))
        return done(cudaErrorInvalidResourceHandle);
    delete event;
    return cudaSuccess;
}

cudaError_t cudaGetLastError(void)
{
    cudaError_t status = t_last_error;
    t_last_error = cudaSuccess;
    return status;
}

namespace {

struct ErrorText {
    cudaError_t code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {cudaSuccess, "no error"},
    {cudaErrorInvalidValue, "invalid argument"},
    {cudaErrorMemoryAllocation, "out of memory"},
    {cudaErrorInitializationError, "initialization error"},
    {cudaErrorInvalidDevicePointer, "invalid device pointer"},
    {cudaErrorInvalidMemcpyDirection, "invalid copy direction for memcpy"},
    {cudaErrorNoDevice, "no CUDA-capable device is detected"},
    {cudaErrorInvalidDevice, "invalid device ordinal"},
    {cudaErrorInvalidResourceHandle, "invalid resource handle"},
    {cudaErrorNotReady, "device not ready"},
    {cudaErrorNotSupported, "operation not supported"},
    {cudaErrorUnknown, "unknown error"},
};

const ErrorText* find_error(cudaError_t error)
{
    for (const ErrorText& e : kErrorTexts)
        if (e.code == error)
            return &e;
    return nullptr;
}

}  // namespace

const char* cudaGetErrorString(cudaError_t error)
{
    const ErrorText* e = find_error(error);
    return e ? e->text : "unrecognized error code";
}

}  // extern "C"
