// The emulated platform's environment reader. The input holds the values of QUELVAN_SIM_GPUS,
// _CC, _MEM_MB, _FAIL and _RULES separated by NUL; a missing piece is an unset variable.
#include "fuzz_input.h"
#include "sim_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> pieces = input_pieces(data, size);
  const auto value = [&](size_t i) { return i < pieces.size() ? pieces[i].c_str() : nullptr; };
  SimSettings settings;
  SimEnvError error;
  if (read_sim_settings(value(0), value(1), value(2), value(3), value(4), settings, error)) {
    FUZZ_CHECK(settings.gpus.size() <= 64);
    for (const SimGpu& gpu : settings.gpus) FUZZ_CHECK(gpu.major >= 1 && gpu.total_bytes > 0);
    for (const auto& [api, at] : settings.fail_at) FUZZ_CHECK(!api.empty() && at >= 1);
  }
  return 0;
}
