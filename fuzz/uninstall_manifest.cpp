// The uninstall manifest reader (what a previous installation, or anyone with write access to
// the log directory, left behind). A record it yields and the writer can hold must read back as
// the same item after writing, or the uninstaller would remove another path than recorded.
#include "fuzz_input.h"
#include "installer/process_state.h"
#include "installer/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_process_state();
  for (const FileInfo& f : manifest_records(input_text(data, size))) {
    if (!manifest_representable(f.path) || !manifest_representable(f.type)) continue;
    const std::vector<FileInfo> back = manifest_records(manifest_line(f));
    FUZZ_CHECK(back.size() == 1 && back[0].type == f.type && back[0].path == f.path);
  }
  return 0;
}
