#include "bitstream.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "cuvid.h"

AnnexBSplitter::AnnexBSplitter(AVCodecParserContext* parser, AVCodecContext* codec)
    : parser_(parser), codec_(codec) {}

AnnexBSplitter::~AnnexBSplitter() { av_parser_close(parser_); }

void AnnexBSplitter::feed(const uint8_t* data, size_t size, const PacketSink& sink) {
    while (size > 0) {
        uint8_t* out = nullptr;
        int outSize = 0;
        int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
        int used = av_parser_parse2(parser_, codec_, &out, &outSize, data, chunk, AV_NOPTS_VALUE,
                                    AV_NOPTS_VALUE, 0);
        if (used < 0) { // the parser gave up on this chunk
            ++corrupt_;
            return;
        }
        data += used;
        size -= used;
        if (outSize > 0) sink(out, outSize);
    }
}

void AnnexBSplitter::finish(const PacketSink& sink) {
    uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser_, codec_, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                     0);
    if (outSize > 0) sink(out, outSize);
}

namespace {
constexpr size_t kIvfFileHeader = 32;
constexpr size_t kIvfFrameHeader = 12;
constexpr uint32_t kIvfMaxFrame = 64u << 20; // far above any real VP9 frame

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
} // namespace

void IvfSplitter::feed(const uint8_t* data, size_t size, const PacketSink& sink) {
    if (broken_) return;
    pending_.insert(pending_.end(), data, data + size);
    if (!headerDone_) {
        if (pending_.size() < kIvfFileHeader) return;
        size_t headerSize = pending_[6] | pending_[7] << 8;
        if (std::memcmp(pending_.data(), "DKIF", 4) != 0 || headerSize < kIvfFileHeader) {
            ++corrupt_;
            broken_ = true;
            pending_.clear();
            return;
        }
        if (pending_.size() < headerSize) return;
        pos_ = headerSize;
        headerDone_ = true;
    }
    while (pending_.size() - pos_ >= kIvfFrameHeader) {
        uint32_t frameSize = le32(&pending_[pos_]);
        if (frameSize > kIvfMaxFrame) {
            ++corrupt_;
            broken_ = true;
            pending_.clear();
            return;
        }
        if (pending_.size() - pos_ - kIvfFrameHeader < frameSize) break;
        if (frameSize > 0) sink(&pending_[pos_ + kIvfFrameHeader], frameSize);
        pos_ += kIvfFrameHeader + frameSize;
    }
    // Drop consumed bytes once they outweigh the rest, so a long stream is not copied per frame.
    if (pos_ > pending_.size() / 2) {
        pending_.erase(pending_.begin(), pending_.begin() + pos_);
        pos_ = 0;
    }
}

void IvfSplitter::finish(const PacketSink&) {
    if (!broken_ && pending_.size() > pos_) ++corrupt_; // a truncated last frame
    pending_.clear();
    pos_ = 0;
}

std::unique_ptr<Splitter> makeSplitter(int codecIndex, AVCodecContext* codec) {
    if (codecIndex == cuvidCodec_VP9) return std::make_unique<IvfSplitter>();
    AVCodecParserContext* parser = av_parser_init(codec->codec_id);
    if (!parser) return nullptr;
    return std::make_unique<AnnexBSplitter>(parser, codec);
}
