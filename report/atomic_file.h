// Replacing a file so that a reader, or a crash, never sees half of it: the new content goes to a
// temporary dot-file in the same directory, is flushed, and is renamed over the old file. Used for
// metrics files, PCIe profiles and the installer's uninstall manifest.
#pragma once

#include <string>

namespace report {

// Writes text (mode 0644) over path atomically. False, with the reason in error, when that fails;
// the temporary file is removed then and the old file is left as it was.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error);

}  // namespace report
