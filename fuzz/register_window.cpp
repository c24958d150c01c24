// The reader of a GPU's board registers from its mapped BAR2 window. The first line of the input
// is the device ID text from sysfs, the rest the window (any size, as a short resource file gives).
#include <vector>

#include "enum_device.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = input_text(data, size);
  const size_t eol = text.find('\n');
  ZuBoard board;
  board.busId = "0000:3b:00.0";
  board.deviceId = text.substr(0, eol);
  // The window in memory of its own, so a read past its end is seen by the sanitizer.
  const std::vector<char> window(eol == std::string::npos ? text.end() : text.begin() + eol + 1, text.end());
  fillBoardRecord(board, registersFromWindow(window.data(), window.size(), board.deviceId));
  return 0;
}
