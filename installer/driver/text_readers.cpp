#include "installer/driver/text_readers.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "installer/utils.h"

bool package_manifest_from_text(const std::string& text, driverConfig& cfg) {
  std::vector<std::string> lines = split(text, '\n');
  if (lines.size() < 4) return false;
  cfg.description = lines[0];
  cfg.version = lines[1];
  cfg.module_name = lines[2];
  cfg.kernel_dir = lines[3];
  return true;
}

// Skips blanks and tabs, then requires at least one decimal digit (after an optional "-" when
// sign is set). Returns the digits read, empty when there are none.
static std::string_view next_number(std::string_view& rest, bool sign) {
  size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
  if (i == 0) return {};
  size_t start = i;
  if (sign && i < rest.size() && rest[i] == '-') ++i;
  size_t digits = i;
  while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
  if (i == digits) return {};
  std::string_view number = rest.substr(start, i - start);
  rest.remove_prefix(i);
  return number;
}

int module_status_from_text(std::string_view all, const std::string& name) {
  // A line "NAME SIZE REFCOUNT ...": the name compared literally and followed by a blank or a
  // tab, so a module whose name merely begins with NAME does not count.
  while (!all.empty()) {
    size_t end = all.find('\n');
    std::string_view line = all.substr(0, end);
    all.remove_prefix(end == std::string_view::npos ? all.size() : end + 1);
    if (line.substr(0, name.size()) != name) continue;
    std::string_view rest = line.substr(name.size());
    if (next_number(rest, false).empty()) continue;
    std::string_view count = next_number(rest, true);
    if (count.empty()) continue;
    return count.front() == '0' ? -1 : -2;
  }
  return 0;
}

std::string modinfo_version(std::string line) {
  trim(line);
  return line.substr(line.find_last_of(" \t") + 1);
}

std::string kernel_release_from_header(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    size_t p = line.find("UTS_RELEASE");
    if (p == std::string::npos) continue;
    // Past "UTS_RELEASE", the blank and the opening quote; a line too short to hold a release
    // gives none rather than a bogus one.
    std::string release = line.size() > p + 13 ? line.substr(p + 13) : "";
    std::erase(release, '"');
    return release;
  }
  return "";
}

std::string first_version(const std::string& text) {
  // By hand rather than with std::regex, whose recursion per character overflows the stack on a
  // long run of digits. A start inside a run of digits fails like the run's first digit, so a
  // failed start moves past its whole first run: linear in the text.
  const auto digits = [&](size_t i) {
    while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i;
  };
  for (size_t start = 0; start < text.size(); ++start) {
    if (!isdigit(static_cast<unsigned char>(text[start]))) continue;
    const size_t first = digits(start);
    size_t end = first;
    for (int part = 0; part < 2 && end != std::string::npos; ++part) {
      const size_t next = end + 1;
      end = (end < text.size() && text[end] == '.' && digits(next) > next) ? digits(next)
                                                                            : std::string::npos;
    }
    if (end != std::string::npos) return text.substr(start, end - start);
    start = first - 1;
  }
  return "";
}

int compiler_major(const std::string& version) { return atoi(version.substr(0, 2).c_str()); }
