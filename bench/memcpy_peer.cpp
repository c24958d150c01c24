// Peer of xferclock on a real GPU: a bare loop of `repeats` cudaMemcpyAsync calls between a
// page-locked host buffer and a device buffer on one non-blocking stream, timed with events,
// after one untimed warm-up copy. Built only against the CUDA toolkit.
//
//   memcpy_peer DEVICE h2d|d2h REPEATS BYTES...
// prints one line per size: "peer BYTES microseconds_per_copy".
#include <cuda_runtime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: memcpy_peer DEVICE h2d|d2h REPEATS BYTES...\n");
        return 2;
    }
    int device = std::atoi(argv[1]);
    bool h2d = std::strcmp(argv[2], "d2h") != 0;
    int repeats = std::atoi(argv[3]);
    if (repeats < 1 || cudaSetDevice(device) != cudaSuccess) {
        std::fprintf(stderr, "memcpy_peer: bad repeats or device\n");
        return 2;
    }
    cudaStream_t stream;
    cudaEvent_t start, stop;
    cudaStreamCreateWithFlags(&stream, cudaStreamNonBlocking);
    cudaEventCreate(&start);
    cudaEventCreate(&stop);
    for (int i = 4; i < argc; ++i) {
        size_t bytes = std::strtoull(argv[i], nullptr, 10);
        void *host = nullptr, *dev = nullptr;
        if (cudaMallocHost(&host, bytes) != cudaSuccess || cudaMalloc(&dev, bytes) != cudaSuccess) {
            std::fprintf(stderr, "memcpy_peer: allocation of %zu bytes failed\n", bytes);
            return 1;
        }
        void* dst = h2d ? dev : host;
        const void* src = h2d ? host : dev;
        cudaMemcpyKind kind = h2d ? cudaMemcpyHostToDevice : cudaMemcpyDeviceToHost;
        cudaMemcpyAsync(dst, src, bytes, kind, stream);
        cudaStreamSynchronize(stream);
        cudaEventRecord(start, stream);
        for (int r = 0; r < repeats; ++r)
            cudaMemcpyAsync(dst, src, bytes, kind, stream);
        cudaEventRecord(stop, stream);
        cudaError_t done = cudaEventSynchronize(stop);
        if (done != cudaSuccess) {
            std::fprintf(stderr, "memcpy_peer: %s\n", cudaGetErrorString(done));
            return 1;
        }
        float ms = 0;
        cudaEventElapsedTime(&ms, start, stop);
        std::printf("peer %zu %.3f\n", bytes, 1000.0 * ms / repeats);
        cudaFreeHost(host);
        cudaFree(dev);
    }
    return 0;
}
