// The reader of "systemctl status": the unit's main process id and its status. On short inputs
// it must agree with the regular expression it replaced (which cannot take long ones: its
// recursion overflows the stack).
#include <charconv>
#include <regex>

#include "fuzz_input.h"
#include "installer/process_state.h"
#include "installer/utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  const std::string text = input_text(data, size);
  int pid = -1, code = -7;
  const bool found = main_pid_from_status(text, pid, code);
  if (size <= 256) {
    static const std::regex pattern(
        "Main PID: ([0-9]+) \\(code=[a-zA-Z0-9]+, status=([0-9]+)\\/[a-zA-Z0-9]+\\)");
    std::smatch m;
    const bool matched = std::regex_search(text, m, pattern);
    FUZZ_CHECK(found == matched);
    if (matched) {
      int want_pid = -1, want_code = -7;
      std::from_chars(text.data() + m.position(1), text.data() + m.position(1) + m.length(1), want_pid);
      std::from_chars(text.data() + m.position(2), text.data() + m.position(2) + m.length(2), want_code);
      FUZZ_CHECK(pid == want_pid && code == want_code);
    }
  }
  return 0;
}
