// vidprobe's command-line reader (getopt_long with per-instance comma lists). The input is the
// argument vector, arguments separated by NUL.
#include <cstring>
#include <memory>

#include "fuzz_input.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = input_pieces(data, size);
  args.insert(args.begin(), "vidprobe");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto cfg = std::make_unique<RunConfig>();
  std::memset(cfg.get(), 0, sizeof *cfg);
  std::string error;
  if (parseOptions(static_cast<int>(args.size()), argv.data(), *cfg, error) == ParseResult::Run) {
    FUZZ_CHECK(cfg->instanceCount <= kMaxInstances);
    for (unsigned i = 0; i < cfg->instanceCount; ++i)
      FUZZ_CHECK(memchr(cfg->instances[i].input, 0, kPathBytes) && memchr(cfg->instances[i].output, 0, kPathBytes));
  }
  return 0;
}
