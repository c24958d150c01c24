// The reader of a device's sysfs local_cpulist: its first line.
#include "device_access.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<std::string> line = firstLine(input_text(data, size));
  FUZZ_CHECK(!line || line->find('\n') == std::string::npos);
  return 0;
}
