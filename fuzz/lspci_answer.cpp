// The reader of lspci's "downgraded" lines in the link check.
#include "device_access.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer = input_text(data, size);
  FUZZ_CHECK(linkReportText(answer).size() <= answer.size());
  return 0;
}
