#include <cuda.h>
#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim_config.h"

namespace {

constexpr size_t kMiB = 1 << 20;

TEST(Runtime, DevicesFollowTheEnvironment)
{
    int count = 0;
    ASSERT_EQ(cudaGetDeviceCount(&count), cudaSuccess);
    ASSERT_EQ(count, 3);
    const int majors[] = {7, 8, 9};
    for (int d = 0; d < count; ++d) {
        cudaDeviceProp prop;
        ASSERT_EQ(cudaGetDeviceProperties(&prop, d), cudaSuccess);
        EXPECT_EQ(prop.major, majors[d]);
        EXPECT_EQ(prop.minor, 0);
        EXPECT_EQ(prop.totalGlobalMem, 64 * kMiB);
    }
    EXPECT_EQ(cudaSetDevice(3), cudaErrorInvalidDevice);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidDevice);
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);  // reading the error clears it
    EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidDevice), "invalid device ordinal");
}

TEST(Runtime, MemoryIsAccountedPerDevice)
{
    size_t free0 = 0, total = 0, free1 = 0;
    ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
    ASSERT_EQ(cudaMemGetInfo(&free1, &total), cudaSuccess);
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
    ASSERT_EQ(cudaMemGetInfo(&free0, &total), cudaSuccess);
    EXPECT_EQ(total, 64 * kMiB);

    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(cudaMalloc(&a, 40 * kMiB), cudaSuccess);
    size_t free = 0;
    ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
    EXPECT_EQ(free, free0 - 40 * kMiB);

    // More than is left fails, reports "out of memory" and changes nothing.
    EXPECT_EQ(cudaMalloc(&b, free + 1), cudaErrorMemoryAllocation);
    EXPECT_EQ(b, nullptr);
    EXPECT_STREQ(cudaGetErrorString(cudaGetLastError()), "out of memory");
    ASSERT_EQ(cudaMalloc(&b, free), cudaSuccess);  // exactly what is left still fits
    EXPECT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
    EXPECT_EQ(free, 0u);

    // The other GPU is untouched.
    ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
    ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
    EXPECT_EQ(free, free1);
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);

    EXPECT_EQ(cudaFree(a), cudaSuccess);
    EXPECT_EQ(cudaFree(b), cudaSuccess);
    EXPECT_EQ(cudaFree(a), cudaErrorInvalidValue);  // twice is an error, not a crash
    cudaGetLastError();
    ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
    EXPECT_EQ(free, free0);
}

TEST(Runtime, CopiesStayInsideTheirBuffers)
{
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
    void* dev = nullptr;
    void* host = nullptr;
    ASSERT_EQ(cudaMalloc(&dev, 4096), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&host, 4096), cudaSuccess);
    std::memset(host, 0x5a, 4096);
    EXPECT_EQ(cudaMemcpy(dev, host, 4096, cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(dev, host, 4097, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host, static_cast<char*>(dev) + 1, 4096, cudaMemcpyDeviceToHost),
              cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host, host, 16, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host, dev, 16, static_cast<cudaMemcpyKind>(7)),
              cudaErrorInvalidMemcpyDirection);
    cudaGetLastError();
    EXPECT_EQ(cudaFreeHost(dev), cudaErrorInvalidValue);  // device memory is not host memory
    EXPECT_EQ(cudaFree(host), cudaErrorInvalidValue);
    cudaGetLastError();
    EXPECT_EQ(cudaFree(dev), cudaSuccess);
    EXPECT_EQ(cudaFreeHost(host), cudaSuccess);
}

TEST(Runtime, StreamRunsInOrderAndEventsTimeIt)
{
    ASSERT_EQ(cudaSetDevice(2), cudaSuccess);
    const size_t bytes = 8 * kMiB;
    cudaStream_t stream;
    cudaEvent_t start, stop;
    void *dev, *in, *out;
    ASSERT_EQ(cudaStreamCreateWithFlags(&stream, cudaStreamNonBlocking), cudaSuccess);
    ASSERT_EQ(cudaEventCreate(&start), cudaSuccess);
    ASSERT_EQ(cudaEventCreate(&stop), cudaSuccess);
    ASSERT_EQ(cudaMalloc(&dev, bytes), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&in, bytes), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&out, bytes), cudaSuccess);

    float ms = -1;
    EXPECT_EQ(cudaEventElapsedTime(&ms, start, stop), cudaErrorInvalidResourceHandle);  // not recorded
    cudaGetLastError();

    ASSERT_EQ(cudaEventRecord(start, stream), cudaSuccess);
    for (int round = 0; round < 4; ++round) {
        std::memset(in, round + 1, bytes);
        ASSERT_EQ(cudaMemcpyAsync(dev, in, bytes, cudaMemcpyHostToDevice, stream), cudaSuccess);
        ASSERT_EQ(cudaMemcpyAsync(out, dev, bytes, cudaMemcpyDeviceToHost, stream), cudaSuccess);
        ASSERT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
        EXPECT_EQ(static_cast<unsigned char*>(out)[bytes - 1], round + 1);
    }
    ASSERT_EQ(cudaEventRecord(stop, stream), cudaSuccess);
    ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    ASSERT_EQ(cudaEventElapsedTime(&ms, start, stop), cudaSuccess);
    EXPECT_GT(ms, 0.0f);  // 64 MiB of copies take measurable time
    EXPECT_LT(ms, 60000.0f);

    // An event of GPU 2 cannot mark a stream of GPU 0.
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
    cudaStream_t other;
    ASSERT_EQ(cudaStreamCreateWithFlags(&other, cudaStreamNonBlocking), cudaSuccess);
    EXPECT_EQ(cudaEventRecord(start, other), cudaErrorInvalidResourceHandle);
    cudaGetLastError();

    EXPECT_EQ(cudaStreamDestroy(other), cudaSuccess);
    EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess);
    EXPECT_EQ(cudaStreamDestroy(stream), cudaErrorInvalidResourceHandle);
    cudaGetLastError();
    EXPECT_EQ(cudaEventDestroy(start), cudaSuccess);
    EXPECT_EQ(cudaEventDestroy(stop), cudaSuccess);
    EXPECT_EQ(cudaFree(dev), cudaSuccess);
    EXPECT_EQ(cudaFreeHost(in), cudaSuccess);
    EXPECT_EQ(cudaFreeHost(out), cudaSuccess);
}

TEST(Driver, ContextsStackPerThread)
{
    int count = 0;
    EXPECT_EQ(cuDeviceGetCount(&count), CUDA_ERROR_NOT_INITIALIZED);
    ASSERT_EQ(cuInit(0), CUDA_SUCCESS);
    ASSERT_EQ(cuDeviceGetCount(&count), CUDA_SUCCESS);
    EXPECT_EQ(count, 3);
    CUdevice dev;
    EXPECT_EQ(cuDeviceGet(&dev, 3), CUDA_ERROR_INVALID_DEVICE);
    ASSERT_EQ(cuDeviceGet(&dev, 1), CUDA_SUCCESS);
    char name[80];
    ASSERT_EQ(cuDeviceGetName(name, sizeof name, dev), CUDA_SUCCESS);
    EXPECT_NE(std::string(name).find("GPU 1"), std::string::npos);

    std::vector<char> frame(256, 7), copy(256);
    EXPECT_EQ(cuMemcpyDtoH_v2(copy.data(), reinterpret_cast<CUdeviceptr>(frame.data()), 256),
              CUDA_ERROR_INVALID_CONTEXT);  // no context current yet

    CUcontext ctx, popped;
    ASSERT_EQ(cuCtxCreate_v2(&ctx, 0, dev), CUDA_SUCCESS);
    EXPECT_EQ(sim_current_context(), ctx);
    EXPECT_EQ(sim_context_device(ctx), 1);
    ASSERT_EQ(cuCtxPopCurrent_v2(&popped), CUDA_SUCCESS);
    EXPECT_EQ(popped, ctx);
    EXPECT_EQ(cuCtxPopCurrent_v2(&popped), CUDA_ERROR_INVALID_CONTEXT);

    // A device buffer copied through a pushed context; reading past its end is refused.
    ASSERT_EQ(cuCtxPushCurrent_v2(ctx), CUDA_SUCCESS);
    void* buffer = sim_device_alloc(1, 256);
    ASSERT_NE(buffer, nullptr);
    std::memset(buffer, 7, 256);
    EXPECT_EQ(cuMemcpyDtoH_v2(copy.data(), reinterpret_cast<CUdeviceptr>(buffer), 256), CUDA_SUCCESS);
    EXPECT_EQ(copy, frame);
    EXPECT_EQ(cuMemcpyDtoH_v2(copy.data(), reinterpret_cast<CUdeviceptr>(buffer) + 1, 256),
              CUDA_ERROR_INVALID_VALUE);
    EXPECT_TRUE(sim_device_free(buffer));

    EXPECT_EQ(cuCtxDestroy_v2(ctx), CUDA_SUCCESS);
    EXPECT_EQ(sim_current_context(), nullptr);
    EXPECT_EQ(cuCtxDestroy_v2(ctx), CUDA_ERROR_INVALID_CONTEXT);
    const char* text = nullptr;
    EXPECT_EQ(cuGetErrorName(CUDA_ERROR_NOT_READY, &text), CUDA_SUCCESS);
    EXPECT_STREQ(text, "CUDA_ERROR_NOT_READY");
}

// Child of the test below.
[[noreturn]] void run_injected_failures()
{
    setenv("QUELVAN_SIM_FAIL", "cudaMalloc@2,cuCtxCreate_v2", 1);
    void* p[3] = {};
    bool ok = cudaMalloc(&p[0], 16) == cudaSuccess && cudaMalloc(&p[1], 16) == cudaErrorMemoryAllocation &&
              cudaMalloc(&p[2], 16) == cudaSuccess && !sim_should_fail("cuvidCreateDecoder");
    CUcontext ctx;
    ok = ok && cuInit(0) == CUDA_SUCCESS && cuCtxCreate_v2(&ctx, 0, 0) != CUDA_SUCCESS &&
         cuCtxCreate_v2(&ctx, 0, 0) == CUDA_SUCCESS;
    std::exit(ok ? 0 : 1);
}

// Failure injection: only the named call fails, and only its n-th time.
TEST(FailureInjectionDeathTest, NthCallFails)
{
    EXPECT_EXIT(run_injected_failures(), testing::ExitedWithCode(0), "");
}

[[noreturn]] void read_config_with(const char* variable, const char* value)
{
    setenv(variable, value, 1);
    int count;
    cudaGetDeviceCount(&count);
    std::exit(0);
}

struct BadEnv {
    const char* variable;
    const char* value;
};

class BadEnvironmentDeathTest : public testing::TestWithParam<BadEnv> {};

void PrintTo(const BadEnv& c, std::ostream* os) { *os << c.variable << "=" << c.value; }

TEST_P(BadEnvironmentDeathTest, StopsNamingTheVariable)
{
    const BadEnv& c = GetParam();
    EXPECT_EXIT(read_config_with(c.variable, c.value), testing::ExitedWithCode(2), c.variable);
}

INSTANTIATE_TEST_SUITE_P(Platform, BadEnvironmentDeathTest,
                         testing::Values(BadEnv{"QUELVAN_SIM_GPUS", "two"},
                                         BadEnv{"QUELVAN_SIM_GPUS", "-1"},
                                         BadEnv{"QUELVAN_SIM_CC", "8"},
                                         BadEnv{"QUELVAN_SIM_CC", "8.0,9.0"},  // three GPUs
                                         BadEnv{"QUELVAN_SIM_MEM_MB", "0"},
                                         BadEnv{"QUELVAN_SIM_FAIL", "cudaMalloc@0"}));

}  // namespace
