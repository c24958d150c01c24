// The hardware video decoder library of the emulated GPU platform: six calls and the records they
// exchange. The byte layouts are a format shared with the programs, so every offset is pinned.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cuda.h>

// Codec indices of the creation record.
enum cuvidCodec : int32_t {
    cuvidCodec_H264 = 0,  // Annex-B byte stream
    cuvidCodec_HEVC = 12, // Annex-B byte stream
    cuvidCodec_VP9 = 13,  // IVF file
    cuvidCodec_AVS2 = 14, // only where the local FFmpeg has a decoder
};

// Decoder status values (first field of the status record).
enum cuvidDecodeStatusValue : uint32_t {
    cuvidDecodeStatus_Decoding = 1,
    cuvidDecodeStatus_Finished = 2, // end of stream decoded and every frame delivered
};

typedef struct CUvideodecoder_st* CUvideodecoder;

// Creation record (316 bytes). Fields not named are reserved and zero.
struct CUVIDDECODECREATEINFO {
    uint32_t reserved0;
    int32_t bsMode;
    int32_t codec;
    int32_t bsSize;         // input queue capacity in bytes; 0 picks the default
    int32_t wtlFormat;
    int32_t n;              // decoding threads of this decoder; 0 or 1 means one
    uint8_t reserved1[12];
    int32_t cbcrInterleave;
    int32_t nv21;
    char outputPath[256];   // NUL-terminated
    int32_t scaleWidth;
    int32_t scaleHeight;
    uint32_t secondaryAxi;
    int32_t disableReorder;
};

// Bit-stream packet (32 bytes). An empty payload with endOfStream = 1 ends the stream.
struct CUVIDPACKET {
    uint32_t payloadSize;
    uint32_t reserved0;
    const unsigned char* payload;
    uint32_t endOfStream;
    uint32_t reserved1;
    int64_t timestamp;
};

// Status record (192 bytes).
struct CUVIDDECODESTATUS {
    uint32_t status;         // cuvidDecodeStatusValue
    uint32_t decodedFrames;  // frames decoded so far
    uint32_t corruptPackets; // damaged input: packets skipped, frames concealed
    uint8_t reserved[180];
};

// Frame parameter record (72 bytes) of cuvidMapVideoFrame.
struct CUVIDPROCPARAMS {
    uint32_t reserved0[2];
    uint32_t height;         // out: height of the mapped frame
    uint32_t copyToHost;     // in: 1 when the frame will be copied, so it is converted to RGB24
    uint8_t reserved1[56];
};

static_assert(sizeof(CUVIDDECODECREATEINFO) == 316);
static_assert(offsetof(CUVIDDECODECREATEINFO, bsMode) == 4);
static_assert(offsetof(CUVIDDECODECREATEINFO, codec) == 8);
static_assert(offsetof(CUVIDDECODECREATEINFO, bsSize) == 12);
static_assert(offsetof(CUVIDDECODECREATEINFO, wtlFormat) == 16);
static_assert(offsetof(CUVIDDECODECREATEINFO, n) == 20);
static_assert(offsetof(CUVIDDECODECREATEINFO, cbcrInterleave) == 36);
static_assert(offsetof(CUVIDDECODECREATEINFO, nv21) == 40);
static_assert(offsetof(CUVIDDECODECREATEINFO, outputPath) == 44);
static_assert(offsetof(CUVIDDECODECREATEINFO, scaleWidth) == 300);
static_assert(offsetof(CUVIDDECODECREATEINFO, scaleHeight) == 304);
static_assert(offsetof(CUVIDDECODECREATEINFO, secondaryAxi) == 308);
static_assert(offsetof(CUVIDDECODECREATEINFO, disableReorder) == 312);
static_assert(sizeof(CUVIDPACKET) == 32);
static_assert(offsetof(CUVIDPACKET, payload) == 8);
static_assert(offsetof(CUVIDPACKET, endOfStream) == 16);
static_assert(offsetof(CUVIDPACKET, timestamp) == 24);
static_assert(sizeof(CUVIDDECODESTATUS) == 192);
static_assert(sizeof(CUVIDPROCPARAMS) == 72);
static_assert(offsetof(CUVIDPROCPARAMS, height) == 8);
static_assert(offsetof(CUVIDPROCPARAMS, copyToHost) == 12);

extern "C" {
// Creates a decoder bound to ctx. Statuses: 1 bad argument or unknown codec, 201 no context,
// 801 a codec the local FFmpeg cannot decode.
CUresult cuvidCreateDecoder(CUcontext ctx, CUvideodecoder* decoder, CUVIDDECODECREATEINFO* info);
// Queues a copy of the packet; 600 (CUDA_ERROR_NOT_READY) while the input queue is full.
CUresult cuvidDecodePicture(CUvideodecoder decoder, CUVIDPACKET* packet);
// While decoding, waits up to a millisecond for the decoder to make progress, so pollers do not
// spin a core.
CUresult cuvidGetDecodeStatus(CUvideodecoder decoder, CUVIDDECODESTATUS* status);
// Maps the oldest decoded frame: *width is 0 when none is ready. With params->copyToHost the frame
// at *frame is RGB24, width x params->height x 3 bytes.
CUresult cuvidMapVideoFrame(CUvideodecoder decoder, CUdeviceptr* frame, unsigned int* width,
                            CUVIDPROCPARAMS* params);
CUresult cuvidUnmapVideoFrame(CUvideodecoder decoder, CUdeviceptr frame, unsigned int flags);
CUresult cuvidDestroyDecoder(CUvideodecoder decoder);
}
