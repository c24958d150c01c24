// The readers of "uname -r" and "gcc --version": the first a.b.c number and the major version.
#include "fuzz_input.h"
#include "installer/driver/text_readers.h"
#include "installer/process_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  compiler_major(first_version(input_text(data, size)));
  return 0;
}
