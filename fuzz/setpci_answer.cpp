// The readers of setpci's answers: register values, device IDs and the port type digit.
#include "device_access.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer = input_text(data, size);
  parseHex(answer);
  stringToUint32_t(answer);
  portTypeFromAnswer(answer);
  return 0;
}
