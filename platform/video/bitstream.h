// Splits the byte chunks a program feeds into the coded packets the codec decodes: Annex-B byte
// streams through the libavcodec parser, VP9 through the frame headers of an IVF file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;

using PacketSink = std::function<void(const uint8_t* data, size_t size)>;

class Splitter {
public:
    virtual ~Splitter() = default;
    // Consumes one chunk, handing every completed packet to sink. The chunk must be followed by
    // AV_INPUT_BUFFER_PADDING_SIZE readable bytes: libavcodec's parser reads past its end.
    virtual void feed(const uint8_t* data, size_t size, const PacketSink& sink) = 0;
    // Hands out what is left at the end of the stream.
    virtual void finish(const PacketSink& sink) = 0;
    // Input the splitter had to throw away (a broken container header or frame size).
    unsigned corrupt() const { return corrupt_; }

protected:
    unsigned corrupt_ = 0;
};

class AnnexBSplitter : public Splitter {
public:
    AnnexBSplitter(AVCodecParserContext* parser, AVCodecContext* codec);
    ~AnnexBSplitter() override;
    void feed(const uint8_t* data, size_t size, const PacketSink& sink) override;
    void finish(const PacketSink& sink) override;

private:
    AVCodecParserContext* parser_;
    AVCodecContext* codec_;
};

class IvfSplitter : public Splitter {
public:
    void feed(const uint8_t* data, size_t size, const PacketSink& sink) override;
    void finish(const PacketSink& sink) override;

private:
    std::vector<uint8_t> pending_;
    size_t pos_ = 0;
    bool headerDone_ = false;
    bool broken_ = false; // after a bad header or frame size nothing further can be framed
};

// The splitter for a codec index, or null for one it does not know.
std::unique_ptr<Splitter> makeSplitter(int codecIndex, AVCodecContext* codec);
