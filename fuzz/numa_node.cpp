// The reader of a device's sysfs numa_node (also vendor and device): its first word.
#include "device_access.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string word = firstWord(input_text(data, size));
  FUZZ_CHECK(word.find_first_of(" \t\n") == std::string::npos);
  return 0;
}
