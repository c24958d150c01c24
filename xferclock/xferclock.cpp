// The measurement of xferclock: copies queued on one stream per GPU, timed with GPU events and
// with the host clock.
//
// Each GPU's batch is queued whole between its two events, one GPU after the other, so that a
// GPU's event window holds its own copies and their issue time only (interleaving the GPUs put
// the issue time of every GPU into each small-copy window). The GPUs still overlap: a GPU's batch
// runs on while the next GPU's is queued. One untimed copy per GPU before the first size keeps
// the first use of the copy path out of the figures.
#include <cuda_runtime.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "xferclock.h"

namespace {

// Every runtime call is followed by this check of the thread's last error; it names this file
// and the line of the failing call.
void check_last_error(int line)
{
    cudaError_t status = cudaGetLastError();
    if (status != cudaSuccess) {
        std::printf("Cuda failure %s:%d: '%s'\n", __FILE_NAME__, line, cudaGetErrorString(status));
        std::exit(1);
    }
}

#define CHECK_CUDA(call)            \
    do {                            \
        (void)(call);               \
        check_last_error(__LINE__); \
    } while (0)

struct DeviceState {
    cudaStream_t stream = nullptr;
    cudaEvent_t start = nullptr;
    cudaEvent_t stop = nullptr;
    void* host = nullptr;
    void* device = nullptr;
    timespec host_start{};
    timespec host_end{};
};

void queue_copy(DeviceState& gpu, size_t bytes, int mode)
{
    void* dst = mode == 0 ? gpu.device : gpu.host;
    const void* src = mode == 0 ? gpu.host : gpu.device;
    cudaMemcpyKind kind = mode == 0 ? cudaMemcpyHostToDevice : cudaMemcpyDeviceToHost;
    CHECK_CUDA(cudaMemcpyAsync(dst, src, bytes, kind, gpu.stream));
}

}  // namespace

int gpu_count_checked()
{
    int count = 0;
    CHECK_CUDA(cudaGetDeviceCount(&count));
    return count;
}

void run_test(const std::vector<int>& devices, const std::vector<int64_t>& sizes, int repeats,
              std::vector<float>& host_latency, std::vector<float>& gpu_latency, int mode)
{
    std::vector<DeviceState> gpus(devices.size());
    host_latency.assign(devices.size() * sizes.size(), 0.0f);
    gpu_latency.assign(devices.size() * sizes.size(), 0.0f);

    for (size_t d = 0; d < gpus.size(); ++d) {
        CHECK_CUDA(cudaSetDevice(devices[d]));
        CHECK_CUDA(cudaStreamCreateWithFlags(&gpus[d].stream, cudaStreamNonBlocking));
        CHECK_CUDA(cudaEventCreate(&gpus[d].start));
        CHECK_CUDA(cudaEventCreate(&gpus[d].stop));
    }

    for (size_t s = 0; s < sizes.size(); ++s) {
        auto bytes = static_cast<size_t>(sizes[s]);
        for (size_t d = 0; d < gpus.size(); ++d) {
            CHECK_CUDA(cudaSetDevice(devices[d]));
            CHECK_CUDA(cudaMallocHost(&gpus[d].host, bytes));
            CHECK_CUDA(cudaMalloc(&gpus[d].device, bytes));
            if (s == 0)
                queue_copy(gpus[d], bytes, mode);  // warm-up, finished by the wait below
        }
        for (size_t d = 0; d < gpus.size(); ++d) {
            CHECK_CUDA(cudaSetDevice(devices[d]));
            CHECK_CUDA(cudaDeviceSynchronize());
        }
        for (size_t d = 0; d < gpus.size(); ++d) {
            CHECK_CUDA(cudaSetDevice(devices[d]));
            CHECK_CUDA(cudaEventRecord(gpus[d].start, gpus[d].stream));
            clock_gettime(CLOCK_REALTIME, &gpus[d].host_start);
            for (int r = 0; r < repeats; ++r)
                queue_copy(gpus[d], bytes, mode);
            CHECK_CUDA(cudaEventRecord(gpus[d].stop, gpus[d].stream));
        }
        for (size_t d = 0; d < gpus.size(); ++d) {
            CHECK_CUDA(cudaSetDevice(devices[d]));
            CHECK_CUDA(cudaDeviceSynchronize());
            clock_gettime(CLOCK_REALTIME, &gpus[d].host_end);
        }
        for (size_t d = 0; d < gpus.size(); ++d) {
            float ms = 0;
            cudaEventElapsedTime(&ms, gpus[d].start, gpus[d].stop);
            size_t at = d * sizes.size() + s;
            gpu_latency[at] = 1000.0f * ms / static_cast<float>(repeats);
            const timespec& a = gpus[d].host_start;
            const timespec& b = gpus[d].host_end;
            double ns = static_cast<double>(b.tv_sec - a.tv_sec) * 1e9 +
                        static_cast<double>(b.tv_nsec - a.tv_nsec);
            host_latency[at] = static_cast<float>(ns / 1000 / repeats);
        }
        for (size_t d = 0; d < gpus.size(); ++d) {
            CHECK_CUDA(cudaSetDevice(devices[d]));
            CHECK_CUDA(cudaFreeHost(gpus[d].host));
            CHECK_CUDA(cudaFree(gpus[d].device));
            CHECK_CUDA(cudaDeviceSynchronize());
        }
    }

    for (size_t d = 0; d < gpus.size(); ++d) {
        CHECK_CUDA(cudaSetDevice(devices[d]));
        CHECK_CUDA(cudaEventDestroy(gpus[d].start));
        CHECK_CUDA(cudaEventDestroy(gpus[d].stop));
        CHECK_CUDA(cudaStreamDestroy(gpus[d].stream));
    }
}

