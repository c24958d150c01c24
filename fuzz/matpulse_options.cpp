// matpulse's command line (CLI11 options bound to the run parameters) and the parameter check
// that follows it. The input is the argument vector, arguments separated by NUL.
#include <CLI/CLI.hpp>

#include "fuzz_input.h"
#include "options.h"
#include "params.h"
#include "tests/test_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = input_pieces(data, size);
  args.insert(args.begin(), "matpulse");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  reset_params();
  CLI::App app{"Quelvan GEMM performance benchmark.", ""};
  app_add_option(app);
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError&) {
    return 0;  // the program prints CLI11's message and exits with its code
  }
  if (check_params() == 0) {
    FUZZ_CHECK(data_type < kNumDataTypes && dev_nums >= 1 && nthreads >= 1);
    for (int index : dev_index_list) FUZZ_CHECK(index >= 0);
  }
  return 0;
}
