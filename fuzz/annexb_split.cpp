// The Annex-B splitting of the emulated decoder (H.264 and HEVC byte streams, through the
// libavcodec parser). The first input byte picks the codec and the chunk size.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <vector>

#include "bitstream.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool hevc = data[0] & 1;
  const size_t chunk = (data[0] >> 1) + 1;
  const AVCodec* codec = avcodec_find_decoder(hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
  if (!codec) return 0;
  AVCodecContext* context = avcodec_alloc_context3(codec);
  {
    auto splitter = makeSplitter(hevc ? 12 : 0, context);
    FUZZ_CHECK(splitter != nullptr);
    const PacketSink sink = [](const uint8_t* p, size_t n) { FUZZ_CHECK(n == 0 || p != nullptr); };
    for (size_t at = 1; at < size; at += chunk) {
      // Padded as the decoder pads its chunks (the parser reads past the end).
      const size_t n = std::min(chunk, size - at);
      std::vector<uint8_t> padded(data + at, data + at + n);
      padded.resize(n + AV_INPUT_BUFFER_PADDING_SIZE);
      splitter->feed(padded.data(), n, sink);
    }
    splitter->finish(sink);
  }
  avcodec_free_context(&context);
  return 0;
}
