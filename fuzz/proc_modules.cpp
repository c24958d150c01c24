// The /proc/modules reader. The first line of the input is the module name asked for, the rest
// the file; the engine's own names are asked too.
#include "fuzz_input.h"
#include "installer/driver/text_readers.h"
#include "installer/process_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  const std::string text = input_text(data, size);
  const size_t eol = text.find('\n');
  const std::string name = text.substr(0, eol);
  const std::string modules = eol == std::string::npos ? "" : text.substr(eol + 1);
  for (const std::string& n : {name, std::string("quelvan"), std::string("vtnfs")}) {
    const int status = module_status_from_text(modules, n);
    FUZZ_CHECK(status == 0 || status == -1 || status == -2);
  }
  return 0;
}
