// The reader of modinfo's version line.
#include "fuzz_input.h"
#include "installer/driver/text_readers.h"
#include "installer/process_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  const std::string version = modinfo_version(input_text(data, size));
  FUZZ_CHECK(version.find_first_of(" \t") == std::string::npos);
  return 0;
}
