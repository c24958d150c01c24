// The reader of "systemctl status": the unit's main process id and its status.
#include "fuzz_input.h"
#include "installer/process_state.h"
#include "installer/utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  int pid = -1, code = 0;
  if (main_pid_from_status(input_text(data, size), pid, code)) FUZZ_CHECK(pid >= -1 && code >= 0);
  return 0;
}
