// The IVF splitting of the emulated decoder (VP9 streams). The first input byte sets the size
// of the chunks the file is fed in, as the program's reads cut it anywhere.
#include "bitstream.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = data[0] + 1;
  auto splitter = makeSplitter(13, nullptr);
  size_t total = 0;
  const PacketSink sink = [&](const uint8_t* p, size_t n) {
    FUZZ_CHECK(n == 0 || p != nullptr);
    total += n;
  };
  for (size_t at = 1; at < size; at += chunk) splitter->feed(data + at, std::min(chunk, size - at), sink);
  splitter->finish(sink);
  FUZZ_CHECK(total <= size);
  return 0;
}
