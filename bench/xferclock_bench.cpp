// xferclock's reported latency for one 4 KiB host-to-device copy on the emulated platform, beside
// a bare memcpy loop over buffers allocated the same way, in the same run: the difference is what
// the emulated runtime and the measurement add to the copy itself.
#include <cuda_runtime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "xferclock.h"

int main()
{
    constexpr size_t kBytes = 4096;
    constexpr int kRepeats = 100000;
    const std::vector<int> devices = {0};
    const std::vector<int64_t> sizes = {kBytes};

    void* host = nullptr;
    void* dev = nullptr;
    if (cudaMallocHost(&host, kBytes) != cudaSuccess || cudaMalloc(&dev, kBytes) != cudaSuccess)
        return 2;
    std::memset(host, 1, kBytes);

    double best_gpu = 1e30, best_host = 1e30, best_memcpy = 1e30;
    for (int round = 0; round < 5; ++round) {
        std::vector<float> host_latency, gpu_latency;
        run_test(devices, sizes, kRepeats, host_latency, gpu_latency, 0);
        best_gpu = std::min<double>(best_gpu, gpu_latency[0]);
        best_host = std::min<double>(best_host, host_latency[0]);

        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRepeats; ++i) {
            std::memcpy(dev, host, kBytes);
            asm volatile("" : : "r"(dev) : "memory");  // keep every copy
        }
        double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        best_memcpy = std::min(best_memcpy, us / kRepeats);
    }
    std::printf("4 KiB host to device, %d copies, best of 5 rounds\n", kRepeats);
    std::printf("xferclock GPU latency  %8.3f us\n", best_gpu);
    std::printf("xferclock CPU latency  %8.3f us\n", best_host);
    std::printf("bare memcpy            %8.3f us\n", best_memcpy);
    std::printf("added by runtime       %8.3f us per copy\n", best_host - best_memcpy);
    cudaFree(dev);
    cudaFreeHost(host);
    return 0;
}
