#include "decode_threads.h"

#include <unistd.h>

#include <cstdlib>

#include "cuda_check.h"

CUvideodecoder vdec_handle[kMaxInstances];
CUcontext m_cuContext;
int64_t total_frames;
int64_t instance_frames[kMaxInstances];
std::mutex mutex_cnt;

namespace {
constexpr size_t kPacketBytes = 262144;
constexpr useconds_t kRetryPause = 10000;

uint32_t decodeStatus(CUvideodecoder handle) {
    CUVIDDECODESTATUS status{};
    cuvidGetDecodeStatus(handle, &status);
    return status.status;
}
} // namespace

void* task_send_bitstream(void* argument) {
    auto* arg = static_cast<ThreadArgument*>(argument);
    const char* path = arg->config->instances[arg->index].input;
    FILE* in = std::fopen(path, "rb");
    if (!in) std::printf("fopen file failed.%s\n", path);
    // Without input the end of the stream is still sent, so the decoder finishes and the run ends.
    CUVIDPACKET packet{};
    unsigned char* buffer = nullptr;
    bool resubmit = false;
    for (;;) {
        if (decodeStatus(arg->handle) == cuvidDecodeStatus_Finished) break;
        if (!resubmit) {
            buffer = static_cast<unsigned char*>(std::malloc(kPacketBytes));
            size_t got = in && buffer ? std::fread(buffer, 1, kPacketBytes, in) : 0;
            packet = CUVIDPACKET{};
            packet.payloadSize = static_cast<uint32_t>(got);
            packet.payload = buffer;
            packet.endOfStream = got == 0 ? 1 : 0;
            packet.timestamp = 0;
        }
        CUresult result = cuvidDecodePicture(arg->handle, &packet);
        if (result == CUDA_ERROR_NOT_READY) { // queue full: the same packet again shortly
            resubmit = true;
            usleep(kRetryPause);
            continue;
        }
        resubmit = false;
        std::free(buffer);
        buffer = nullptr;
        usleep(kRetryPause);
        if (packet.payloadSize == 0) break; // end of stream sent
    }
    std::free(buffer);
    if (in) std::fclose(in);
    return nullptr;
}

void* get_video_frame(void* argument) {
    auto* arg = static_cast<ThreadArgument*>(argument);
    bool writeFrames = arg->config->frameOutput != 0;
    checkCudaErrors(cuCtxPushCurrent_v2(m_cuContext));
    CUVIDPROCPARAMS params{};
    if (writeFrames) params.copyToHost = 1;
    bool writeFailed = false;
    unsigned int width = 0;
    uint32_t status = 0;
    do {
        CUdeviceptr frame = 0;
        width = 0;
        if (cuvidMapVideoFrame(arg->handle, &frame, &width, &params) != CUDA_SUCCESS) width = 0;
        if (width != 0) {
            if (writeFrames) {
                size_t bytes = size_t(width) * params.height * 3;
                void* host = std::malloc(bytes);
                if (!host) checkCudaErrors(CUDA_ERROR_OUT_OF_MEMORY);
                checkCudaErrors(cuMemcpyDtoH_v2(host, frame, bytes));
                if (std::fwrite(host, 1, bytes, arg->frameFile) != bytes && !writeFailed) {
                    std::fprintf(stderr, "failed to write frame file test_%d.rgb\n", arg->index);
                    writeFailed = true;
                }
                std::free(host);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_cnt);
                ++total_frames;
                ++instance_frames[arg->index];
            }
            checkCudaErrors(cuvidUnmapVideoFrame(arg->handle, frame, 0));
        }
        status = decodeStatus(arg->handle);
    } while (width != 0 || status != cuvidDecodeStatus_Finished);
    if (writeFrames) {
        std::fclose(arg->frameFile);
        arg->frameFile = nullptr;
    }
    CUcontext popped = nullptr;
    cuCtxPopCurrent_v2(&popped);
    return nullptr;
}
