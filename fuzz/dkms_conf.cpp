// The DKMS framework configuration reader (/etc/dkms/framework.conf).
#include "fuzz_input.h"
#include "installer/process_state.h"
#include "installer/uninstall.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  const DkmsConfig conf = dkms_config_from_text(input_text(data, size));
  FUZZ_CHECK(conf.dkms_tree.find('"') == std::string::npos);
  return 0;
}
