// xferclock's command-line reader. The input is the argument vector, arguments separated by NUL.
#include "fuzz_input.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = input_pieces(data, size);
  args.insert(args.begin(), "xferclock");
  XferSettings settings;
  const ParseOutcome outcome = parse_arguments(args, [] { return 2; }, settings);
  if (outcome.run) {
    // A start beyond the end gives no size at all, which the program accepts.
    FUZZ_CHECK(settings.sizes.size() <= 4096 && settings.repeats > 0);
    for (int device : settings.devices) FUZZ_CHECK(device >= 0 && device < 2);
  }
  return 0;
}
