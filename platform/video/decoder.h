// One decoder instance: a bounded input queue of byte chunks, a decoding thread running libavcodec,
// and a bounded queue of decoded frames that the program maps one at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bitstream.h"
#include "cuvid.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class Decoder {
public:
    // The decoder for a creation record, or null with the status saying why.
    static std::unique_ptr<Decoder> create(const CUVIDDECODECREATEINFO& info, int device,
                                           CUresult& status);
    ~Decoder();

    CUresult submit(const CUVIDPACKET& packet);
    CUVIDDECODESTATUS status();
    CUresult map(CUdeviceptr* frame, unsigned int* width, CUVIDPROCPARAMS* params);
    CUresult unmap(CUdeviceptr frame);

private:
    struct Chunk {
        std::vector<uint8_t> data; // the payload and the zeroed tail the parser may read ahead
        size_t size = 0;
        bool endOfStream = false;
    };

    Decoder() = default;
    void run();
    void decode(AVPacket* packet); // null drains the codec
    bool pushFrame(AVFrame* frame);
    bool present(const AVFrame& frame, bool convert);
    bool finished() const;
    void progressed(); // caller holds mutex_

    AVCodecContext* codec_ = nullptr;
    std::unique_ptr<Splitter> splitter_;
    AVPacket* packet_ = nullptr;
    AVFrame* scratch_ = nullptr;
    SwsContext* sws_ = nullptr;
    int device_ = 0;
    uint8_t* frameBuffer_ = nullptr; // device memory the mapped frame is presented in
    size_t frameBytes_ = 0;

    size_t inputCapacity_ = 0;
    std::mutex mutex_;
    std::condition_variable work_;     // wakes the decoding thread
    std::condition_variable progress_; // wakes status readers
    std::deque<Chunk> input_;
    size_t inputBytes_ = 0;
    bool endQueued_ = false;
    bool endDecoded_ = false;
    bool stop_ = false;
    std::deque<AVFrame*> output_;
    AVFrame* mapped_ = nullptr;
    CUdeviceptr mappedAt_ = 0;
    uint64_t generation_ = 0;
    uint32_t decodedFrames_ = 0;
    uint32_t corrupt_ = 0;
    std::thread thread_;
};
