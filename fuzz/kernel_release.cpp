// The kernel release reader (include/generated/utsrelease.h of the kernel sources).
#include "fuzz_input.h"
#include "installer/driver/text_readers.h"
#include "installer/process_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  const std::string release = kernel_release_from_header(input_text(data, size));
  FUZZ_CHECK(release.find_first_of("\"\n") == std::string::npos);
  return 0;
}
