// The reader of BAR0's address from a device's configuration space (sysfs config at 0x10).
#include "device_access.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unsigned char bytes[8] = {};
  for (size_t i = 0; i < size && i < sizeof bytes; ++i) bytes[i] = data[i];
  FUZZ_CHECK((bar0FromConfig(bytes) & 0xf) == 0);
  return 0;
}
