#include "decoder.h"

#include "sim_config.h"

#include <chrono>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {
constexpr size_t kDefaultInputBytes = 1u << 20;
// Decoded frames waiting to be mapped; the decoding thread pauses beyond that.
constexpr size_t kOutputFrames = 8;
constexpr auto kStatusWait = std::chrono::milliseconds(1);

AVCodecID codecId(int index) {
    switch (index) {
    case cuvidCodec_H264: return AV_CODEC_ID_H264;
    case cuvidCodec_HEVC: return AV_CODEC_ID_HEVC;
    case cuvidCodec_VP9: return AV_CODEC_ID_VP9;
    case cuvidCodec_AVS2: return AV_CODEC_ID_AVS2;
    default: return AV_CODEC_ID_NONE;
    }
}
} // namespace

std::unique_ptr<Decoder> Decoder::create(const CUVIDDECODECREATEINFO& info, int device,
                                         CUresult& status) {
    // A corrupt stream would flood the terminal with decoder complaints; they are counted instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });

    AVCodecID id = codecId(info.codec);
    if (id == AV_CODEC_ID_NONE) {
        status = CUDA_ERROR_INVALID_VALUE;
        return nullptr;
    }
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) {
        status = CUDA_ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    std::unique_ptr<Decoder> d(new Decoder);
    d->codec_ = avcodec_alloc_context3(codec);
    d->packet_ = av_packet_alloc();
    d->scratch_ = av_frame_alloc();
    if (!d->codec_ || !d->packet_ || !d->scratch_) {
        status = CUDA_ERROR_OUT_OF_MEMORY;
        return nullptr;
    }
    d->codec_->thread_count = info.n > 1 ? info.n : 1;
    if (avcodec_open2(d->codec_, codec, nullptr) < 0) {
        status = CUDA_ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    d->splitter_ = makeSplitter(info.codec, d->codec_);
    if (!d->splitter_) {
        status = CUDA_ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    d->device_ = device;
    d->inputCapacity_ = info.bsSize > 0 ? info.bsSize : kDefaultInputBytes;
    d->thread_ = std::thread(&Decoder::run, d.get());
    status = CUDA_SUCCESS;
    return d;
}

Decoder::~Decoder() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    if (thread_.joinable()) thread_.join();
    for (AVFrame* f : output_) av_frame_free(&f);
    av_frame_free(&mapped_);
    splitter_.reset(); // its parser refers to the codec context
    avcodec_free_context(&codec_);
    av_packet_free(&packet_);
    av_frame_free(&scratch_);
    sws_freeContext(sws_);
    if (frameBuffer_) sim_device_free(frameBuffer_);
}

CUresult Decoder::submit(const CUVIDPACKET& packet) {
    if (packet.payloadSize > 0 && !packet.payload) return CUDA_ERROR_INVALID_VALUE;
    std::lock_guard<std::mutex> lock(mutex_);
    if (endQueued_) return CUDA_ERROR_INVALID_VALUE; // nothing may follow the end of the stream
    // One chunk is always taken, so a chunk larger than the queue still gets through.
    if (!input_.empty() && inputBytes_ + packet.payloadSize > inputCapacity_)
        return CUDA_ERROR_NOT_READY;
    Chunk chunk;
    chunk.size = packet.payloadSize;
    chunk.data.resize(chunk.size + AV_INPUT_BUFFER_PADDING_SIZE);
    std::copy(packet.payload, packet.payload + chunk.size, chunk.data.begin());
    chunk.endOfStream = packet.endOfStream != 0 || packet.payloadSize == 0;
    endQueued_ = chunk.endOfStream;
    inputBytes_ += packet.payloadSize;
    input_.push_back(std::move(chunk));
    work_.notify_one();
    return CUDA_SUCCESS;
}

bool Decoder::finished() const { return endDecoded_ && output_.empty() && !mapped_; }

void Decoder::progressed() {
    ++generation_;
    progress_.notify_all();
}

CUVIDDECODESTATUS Decoder::status() {
    std::unique_lock<std::mutex> lock(mutex_);
    // Once everything is decoded only the mapper moves things on, so it must not be kept waiting.
    bool draining = endDecoded_ && !output_.empty();
    if (!finished() && !draining) {
        uint64_t seen = generation_;
        progress_.wait_for(lock, kStatusWait, [&] { return generation_ != seen || finished(); });
    }
    CUVIDDECODESTATUS s{};
    s.status = finished() ? cuvidDecodeStatus_Finished : cuvidDecodeStatus_Decoding;
    s.decodedFrames = decodedFrames_;
    s.corruptPackets = corrupt_;
    return s;
}

void Decoder::run() {
    unsigned splitterCorrupt = 0;
    auto sink = [this](const uint8_t* data, size_t size) {
        av_packet_unref(packet_);
        if (av_new_packet(packet_, static_cast<int>(size)) < 0) return;
        std::copy(data, data + size, packet_->data);
        decode(packet_);
    };
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [&] { return stop_ || !input_.empty(); });
            if (stop_) return;
            chunk = std::move(input_.front());
            input_.pop_front();
            inputBytes_ -= chunk.size;
            progressed();
        }
        if (chunk.size > 0) splitter_->feed(chunk.data.data(), chunk.size, sink);
        if (chunk.endOfStream) {
            splitter_->finish(sink);
            decode(nullptr);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        corrupt_ += splitter_->corrupt() - splitterCorrupt;
        splitterCorrupt = splitter_->corrupt();
        if (chunk.endOfStream) {
            endDecoded_ = true;
            progressed();
            return;
        }
    }
}

void Decoder::decode(AVPacket* packet) {
    // A second try is needed only when the codec wants its output read before taking more input.
    for (int attempt = 0; attempt < 2; ++attempt) {
        int sent = avcodec_send_packet(codec_, packet);
        if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++corrupt_; // the packet is skipped
        }
        for (;;) {
            int got = avcodec_receive_frame(codec_, scratch_);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
            if (got < 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                ++corrupt_;
                break;
            }
            AVFrame* frame = av_frame_alloc();
            if (!frame) return;
            av_frame_move_ref(frame, scratch_);
            // A concealed frame is still delivered, and counted as damage.
            if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) {
                std::lock_guard<std::mutex> lock(mutex_);
                ++corrupt_;
            }
            if (!pushFrame(frame)) return;
        }
        if (sent != AVERROR(EAGAIN)) return;
    }
}

bool Decoder::pushFrame(AVFrame* frame) {
    std::unique_lock<std::mutex> lock(mutex_);
    work_.wait(lock, [&] { return stop_ || output_.size() < kOutputFrames; });
    if (stop_) {
        av_frame_free(&frame);
        return false;
    }
    output_.push_back(frame);
    ++decodedFrames_;
    progressed();
    return true;
}

CUresult Decoder::map(CUdeviceptr* frame, unsigned int* width, CUVIDPROCPARAMS* params) {
    if (!frame || !width || !params) return CUDA_ERROR_INVALID_VALUE;
    *width = 0;
    AVFrame* f = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mapped_) return CUDA_ERROR_INVALID_VALUE; // one frame at a time
        if (output_.empty()) return CUDA_SUCCESS; // nothing decoded yet
        f = mapped_ = output_.front();
        output_.pop_front();
    }
    work_.notify_one();
    if (!present(*f, params->copyToHost != 0)) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++corrupt_;
        av_frame_free(&mapped_);
        progressed();
        return CUDA_ERROR_UNKNOWN;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    mappedAt_ = *frame = reinterpret_cast<uintptr_t>(frameBuffer_);
    *width = f->width;
    params->height = f->height;
    return CUDA_SUCCESS;
}

bool Decoder::present(const AVFrame& f, bool convert) {
    size_t bytes = size_t(f.width) * f.height * 3;
    if (bytes > frameBytes_) {
        if (frameBuffer_) sim_device_free(frameBuffer_);
        // Slack at the end: the converter's vector code may store a little past the last pixel.
        frameBuffer_ = static_cast<uint8_t*>(sim_device_alloc(device_, bytes + 64));
        frameBytes_ = frameBuffer_ ? bytes : 0;
        if (!frameBuffer_) return false;
    }
    // Conversion costs about as much as decoding, so only frames that will be copied pay for it.
    if (!convert) return true;
    sws_ = sws_getCachedContext(sws_, f.width, f.height, AVPixelFormat(f.format), f.width, f.height,
                                AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws_) return false;
    uint8_t* dst[4] = {frameBuffer_, nullptr, nullptr, nullptr};
    int dstStride[4] = {f.width * 3, 0, 0, 0};
    sws_scale(sws_, f.data, f.linesize, 0, f.height, dst, dstStride);
    return true;
}

CUresult Decoder::unmap(CUdeviceptr frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!mapped_ || frame != mappedAt_) return CUDA_ERROR_INVALID_VALUE;
    av_frame_free(&mapped_);
    progressed();
    return CUDA_SUCCESS;
}
