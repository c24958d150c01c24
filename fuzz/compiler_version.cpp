// The readers of "uname -r" and "gcc --version": the first a.b.c number and the major version.
// On short inputs the reader must agree with the regular expression it replaced (which cannot
// take long ones: its recursion overflows the stack).
#include <regex>

#include "fuzz_input.h"
#include "installer/driver/text_readers.h"
#include "installer/process_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  const std::string text = input_text(data, size);
  const std::string version = first_version(text);
  compiler_major(version);
  if (size <= 256) {
    static const std::regex pattern("\\d+\\.\\d+\\.\\d+");
    std::smatch m;
    FUZZ_CHECK(version == (std::regex_search(text, m, pattern) ? m.str() : ""));
  }
  return 0;
}
