// The decoder library's entry points: argument checks and failure injection, then the decoder.
#include "cuvid.h"

#include "decoder.h"
#include "sim_config.h"

namespace {
Decoder* decoderOf(CUvideodecoder handle) { return reinterpret_cast<Decoder*>(handle); }
} // namespace

extern "C" {

CUresult cuvidCreateDecoder(CUcontext ctx, CUvideodecoder* decoder, CUVIDDECODECREATEINFO* info) {
    if (sim_should_fail("cuvidCreateDecoder")) return CUDA_ERROR_UNKNOWN;
    if (!decoder || !info) return CUDA_ERROR_INVALID_VALUE;
    *decoder = nullptr;
    int device = sim_context_device(ctx);
    if (device < 0) return CUDA_ERROR_INVALID_CONTEXT;
    CUresult status = CUDA_SUCCESS;
    std::unique_ptr<Decoder> d = Decoder::create(*info, device, status);
    if (d) *decoder = reinterpret_cast<CUvideodecoder>(d.release());
    return status;
}

CUresult cuvidDecodePicture(CUvideodecoder decoder, CUVIDPACKET* packet) {
    if (sim_should_fail("cuvidDecodePicture")) return CUDA_ERROR_UNKNOWN;
    if (!decoder || !packet) return CUDA_ERROR_INVALID_VALUE;
    return decoderOf(decoder)->submit(*packet);
}

CUresult cuvidGetDecodeStatus(CUvideodecoder decoder, CUVIDDECODESTATUS* status) {
    if (sim_should_fail("cuvidGetDecodeStatus")) return CUDA_ERROR_UNKNOWN;
    if (!decoder || !status) return CUDA_ERROR_INVALID_VALUE;
    *status = decoderOf(decoder)->status();
    return CUDA_SUCCESS;
}

CUresult cuvidMapVideoFrame(CUvideodecoder decoder, CUdeviceptr* frame, unsigned int* width,
                            CUVIDPROCPARAMS* params) {
    if (width) *width = 0;
    if (sim_should_fail("cuvidMapVideoFrame")) return CUDA_ERROR_UNKNOWN;
    if (!decoder) return CUDA_ERROR_INVALID_VALUE;
    return decoderOf(decoder)->map(frame, width, params);
}

CUresult cuvidUnmapVideoFrame(CUvideodecoder decoder, CUdeviceptr frame, unsigned int) {
    if (sim_should_fail("cuvidUnmapVideoFrame")) return CUDA_ERROR_UNKNOWN;
    if (!decoder) return CUDA_ERROR_INVALID_VALUE;
    return decoderOf(decoder)->unmap(frame);
}

CUresult cuvidDestroyDecoder(CUvideodecoder decoder) {
    if (sim_should_fail("cuvidDestroyDecoder")) return CUDA_ERROR_UNKNOWN;
    if (!decoder) return CUDA_ERROR_INVALID_VALUE;
    delete decoderOf(decoder);
    return CUDA_SUCCESS;
}

} // extern "C"
