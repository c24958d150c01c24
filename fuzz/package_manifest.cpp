// The driver package's ".manifest" reader.
#include "fuzz_input.h"
#include "installer/driver/text_readers.h"
#include "installer/process_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  driverConfig cfg;
  if (package_manifest_from_text(input_text(data, size), cfg))
    FUZZ_CHECK(cfg.version.find('\n') == std::string::npos);
  return 0;
}
