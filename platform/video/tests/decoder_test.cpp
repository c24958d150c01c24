// The decoder library against real streams made by the ffmpeg program (see make_streams.sh).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cuvid.h"

namespace {

std::vector<unsigned char> readFile(const std::string& name) {
    std::ifstream in(std::string(VIDEO_STREAMS_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(cuInit(0), CUDA_SUCCESS);
        ASSERT_EQ(cuCtxCreate_v2(&ctx, 0, 0), CUDA_SUCCESS);
    }
    void TearDown() override { cuCtxDestroy_v2(ctx); }

    CUVIDDECODECREATEINFO createInfo(int codec, int bsSize = 0) {
        CUVIDDECODECREATEINFO info{};
        info.codec = codec;
        info.bsSize = bsSize;
        return info;
    }

    CUcontext ctx = nullptr;
};

struct Outcome {
    unsigned frames = 0;    // frames mapped
    unsigned refusals = 0;  // submissions answered with 600
    CUVIDDECODESTATUS last{};
};

// Feeds `stream` in pieces of `piece` bytes from one thread, mapping between submissions, the
// way a single-threaded caller would; every refused piece is offered again.
Outcome decodeAll(CUvideodecoder d, const std::vector<unsigned char>& stream, size_t piece) {
    Outcome out;
    size_t pos = 0;
    bool endSent = false;
    CUVIDPROCPARAMS params{};
    for (int rounds = 0; rounds < 100000; ++rounds) {
        if (!endSent) {
            CUVIDPACKET p{};
            p.payloadSize = static_cast<uint32_t>(std::min(piece, stream.size() - pos));
            p.payload = stream.data() + pos;
            p.endOfStream = p.payloadSize == 0;
            CUresult r = cuvidDecodePicture(d, &p);
            if (r == CUDA_ERROR_NOT_READY) {
                ++out.refusals;
            } else {
                EXPECT_EQ(r, CUDA_SUCCESS);
                endSent = p.payloadSize == 0;
                pos += p.payloadSize;
            }
        }
        CUdeviceptr frame = 0;
        unsigned width = 0;
        EXPECT_EQ(cuvidMapVideoFrame(d, &frame, &width, &params), CUDA_SUCCESS);
        if (width != 0) {
            ++out.frames;
            EXPECT_EQ(cuvidUnmapVideoFrame(d, frame, 0), CUDA_SUCCESS);
        }
        EXPECT_EQ(cuvidGetDecodeStatus(d, &out.last), CUDA_SUCCESS);
        if (out.last.status == cuvidDecodeStatus_Finished) break;
    }
    return out;
}

TEST_F(DecoderTest, FullQueueRefusesWithNotReadyAndLosesNothing) {
    // A one-byte queue holds a single packet; while the decoder is held up by undelivered frames
    // every further packet is refused, and offered again it still gets decoded.
    CUvideodecoder d = nullptr;
    CUVIDDECODECREATEINFO info = createInfo(cuvidCodec_H264, 1);
    ASSERT_EQ(cuvidCreateDecoder(ctx, &d, &info), CUDA_SUCCESS);
    Outcome out = decodeAll(d, readFile("h264.h264"), 100);
    EXPECT_GT(out.refusals, 0u);
    EXPECT_EQ(out.frames, 30u);
    EXPECT_EQ(out.last.status, cuvidDecodeStatus_Finished);
    EXPECT_EQ(out.last.decodedFrames, 30u);
    EXPECT_EQ(out.last.corruptPackets, 0u);
    EXPECT_EQ(cuvidDestroyDecoder(d), CUDA_SUCCESS);
}

TEST_F(DecoderTest, MappedFrameIsRgbOfTheStreamWhenCopied) {
    CUvideodecoder d = nullptr;
    CUVIDDECODECREATEINFO info = createInfo(cuvidCodec_VP9);
    ASSERT_EQ(cuvidCreateDecoder(ctx, &d, &info), CUDA_SUCCESS);
    std::vector<unsigned char> stream = readFile("vp9.ivf");
    CUVIDPACKET p{};
    p.payloadSize = static_cast<uint32_t>(stream.size());
    p.payload = stream.data();
    ASSERT_EQ(cuvidDecodePicture(d, &p), CUDA_SUCCESS);
    CUVIDPROCPARAMS params{};
    params.copyToHost = 1;
    CUdeviceptr frame = 0;
    unsigned width = 0;
    for (int i = 0; i < 5000 && width == 0; ++i) {
        ASSERT_EQ(cuvidMapVideoFrame(d, &frame, &width, &params), CUDA_SUCCESS);
        CUVIDDECODESTATUS s{};
        cuvidGetDecodeStatus(d, &s);
    }
    ASSERT_EQ(width, 160u);
    ASSERT_EQ(params.height, 120u);
    std::vector<unsigned char> rgb(160 * 120 * 3);
    ASSERT_EQ(cuMemcpyDtoH_v2(rgb.data(), frame, rgb.size()), CUDA_SUCCESS);
    std::vector<unsigned char> ref = readFile("vp9.ivf.rgb");
    ASSERT_GE(ref.size(), rgb.size());
    EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), ref.begin()));
    // One frame at a time, and only the mapped one can be unmapped.
    unsigned second = 0;
    EXPECT_NE(cuvidMapVideoFrame(d, &frame, &second, &params), CUDA_SUCCESS);
    EXPECT_NE(cuvidUnmapVideoFrame(d, frame + 1, 0), CUDA_SUCCESS);
    EXPECT_EQ(cuvidUnmapVideoFrame(d, frame, 0), CUDA_SUCCESS);
    EXPECT_EQ(cuvidDestroyDecoder(d), CUDA_SUCCESS); // with frames still queued
}

struct DamagedCase {
    const char* file;
    int codec;
    bool someCorrupt; // whether the damage must show in the count
};

TEST_F(DecoderTest, DamagedStreamsFinishAndAreCounted) {
    const DamagedCase cases[] = {
        {"truncated.h264", cuvidCodec_H264, false},
        {"corrupt.h264", cuvidCodec_H264, true},
        {"garbage.bin", cuvidCodec_H264, false},
        {"garbage.bin", cuvidCodec_HEVC, false},
        {"garbage.bin", cuvidCodec_VP9, true},  // no IVF header
        {"truncated.ivf", cuvidCodec_VP9, true}, // last frame cut short
        {"h264.h264", cuvidCodec_HEVC, false},   // the wrong codec
    };
    for (const DamagedCase& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " as codec " + std::to_string(c.codec));
        CUvideodecoder d = nullptr;
        CUVIDDECODECREATEINFO info = createInfo(c.codec);
        ASSERT_EQ(cuvidCreateDecoder(ctx, &d, &info), CUDA_SUCCESS);
        Outcome out = decodeAll(d, readFile(c.file), 1000);
        EXPECT_EQ(out.last.status, cuvidDecodeStatus_Finished);
        if (c.someCorrupt) {
            EXPECT_GT(out.last.corruptPackets, 0u);
        }
        EXPECT_EQ(cuvidDestroyDecoder(d), CUDA_SUCCESS);
    }
}

TEST_F(DecoderTest, CreationChecksItsArguments) {
    CUvideodecoder d = nullptr;
    CUVIDDECODECREATEINFO info = createInfo(7);
    EXPECT_EQ(cuvidCreateDecoder(ctx, &d, &info), CUDA_ERROR_INVALID_VALUE);
    EXPECT_EQ(d, nullptr);
    info = createInfo(cuvidCodec_H264);
    EXPECT_EQ(cuvidCreateDecoder(nullptr, &d, &info), CUDA_ERROR_INVALID_CONTEXT);
    // AVS2 needs a decoder this FFmpeg may lack; then it is refused, never half-made.
    info = createInfo(cuvidCodec_AVS2);
    CUresult r = cuvidCreateDecoder(ctx, &d, &info);
    if (r == CUDA_SUCCESS)
        EXPECT_EQ(cuvidDestroyDecoder(d), CUDA_SUCCESS);
    else
        EXPECT_EQ(r, CUDA_ERROR_NOT_SUPPORTED);
    CUVIDPACKET p{};
    EXPECT_EQ(cuvidDecodePicture(nullptr, &p), CUDA_ERROR_INVALID_VALUE);
}

TEST_F(DecoderTest, NothingFollowsTheEndOfStream) {
    CUvideodecoder d = nullptr;
    CUVIDDECODECREATEINFO info = createInfo(cuvidCodec_H264);
    ASSERT_EQ(cuvidCreateDecoder(ctx, &d, &info), CUDA_SUCCESS);
    CUVIDPACKET end{};
    end.endOfStream = 1;
    EXPECT_EQ(cuvidDecodePicture(d, &end), CUDA_SUCCESS);
    std::vector<unsigned char> stream = readFile("h264.h264");
    CUVIDPACKET late{};
    late.payloadSize = static_cast<uint32_t>(stream.size());
    late.payload = stream.data();
    EXPECT_EQ(cuvidDecodePicture(d, &late), CUDA_ERROR_INVALID_VALUE);
    EXPECT_EQ(cuvidDestroyDecoder(d), CUDA_SUCCESS);
}

} // namespace
