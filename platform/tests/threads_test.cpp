// Threaded uses of the emulated runtime (run under ThreadSanitizer too).
#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

// Each thread has its own current GPU, as the workers of a multi-GPU benchmark rely on.
TEST(Threads, CurrentDeviceIsPerThread)
{
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
    std::vector<int> seen(3, -1);
    std::vector<size_t> used(3, 0);
    std::vector<std::thread> threads;
    for (int d = 0; d < 3; ++d) {
        threads.emplace_back([d, &seen, &used] {
            size_t before = 0, after = 0, total = 0;
            void* p = nullptr;
            if (cudaSetDevice(d) != cudaSuccess || cudaMemGetInfo(&before, &total) != cudaSuccess ||
                cudaMalloc(&p, (d + 1) << 20) != cudaSuccess ||
                cudaMemGetInfo(&after, &total) != cudaSuccess)
                return;
            cudaGetDevice(&seen[d]);
            used[d] = before - after;
            cudaFree(p);
        });
    }
    for (std::thread& t : threads)
        t.join();
    int mine = -1;
    ASSERT_EQ(cudaGetDevice(&mine), cudaSuccess);
    EXPECT_EQ(mine, 0);
    for (int d = 0; d < 3; ++d) {
        EXPECT_EQ(seen[d], d);
        EXPECT_EQ(used[d], size_t(d + 1) << 20);
    }
}

// Streams of several threads copy side by side; each keeps its own order and its own events.
TEST(Threads, StreamsOfSeveralThreadsKeepTheirOrder)
{
    constexpr size_t kBytes = 1 << 20;
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            cudaSetDevice(t % 3);
            cudaStream_t stream;
            cudaEvent_t start, stop;
            void *dev = nullptr, *in = nullptr, *out = nullptr;
            bool ok = cudaStreamCreateWithFlags(&stream, cudaStreamNonBlocking) == cudaSuccess &&
                      cudaEventCreate(&start) == cudaSuccess && cudaEventCreate(&stop) == cudaSuccess &&
                      cudaMalloc(&dev, kBytes) == cudaSuccess &&
                      cudaMallocHost(&in, kBytes) == cudaSuccess &&
                      cudaMallocHost(&out, kBytes) == cudaSuccess;
            ok = ok && cudaEventRecord(start, stream) == cudaSuccess;
            for (int round = 0; ok && round < 20; ++round) {
                std::memset(in, t * 20 + round, kBytes);
                ok = cudaMemcpyAsync(dev, in, kBytes, cudaMemcpyHostToDevice, stream) == cudaSuccess &&
                     cudaMemcpyAsync(out, dev, kBytes, cudaMemcpyDeviceToHost, stream) == cudaSuccess &&
                     cudaStreamSynchronize(stream) == cudaSuccess &&
                     static_cast<unsigned char*>(out)[kBytes / 2] == t * 20 + round;
            }
            float ms = -1;
            ok = ok && cudaEventRecord(stop, stream) == cudaSuccess &&
                 cudaEventElapsedTime(&ms, start, stop) == cudaSuccess && ms > 0;
            failures[t] = ok ? 0 : 1;
            cudaFree(dev);
            cudaFreeHost(in);
            cudaFreeHost(out);
            cudaEventDestroy(start);
            cudaEventDestroy(stop);
            cudaStreamDestroy(stream);
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
