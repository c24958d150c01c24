#include "installer/process_state.h"

#include <unistd.h>

ProcessState process_state;

void reset_process_state() {
  if (process_state.log_file) fclose(process_state.log_file);
  if (process_state.register_fd >= 0) close(process_state.register_fd);
  process_state = ProcessState{};
}
