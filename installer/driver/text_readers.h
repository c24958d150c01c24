// Readers of the text that the driver package, the kernel and the build tools hand the engine:
// the package manifest, /proc/modules, modinfo's version line, the kernel's utsrelease.h and
// the compiler's version banner. Pure functions of the text, so the engine's steps keep the
// file and command handling and the fuzz targets call exactly what the engine calls.
#pragma once

#include <string>
#include <string_view>

#include "installer/driver/driver_installer.h"

// Lines 1 to 4 of a package manifest into description, version, module_name and kernel_dir;
// false (cfg unchanged) when the text holds fewer than 4 lines.
bool package_manifest_from_text(const std::string& text, driverConfig& cfg);

// The status of module name in the text of /proc/modules: 0 not loaded, -1 loaded and unused,
// -2 in use. The name must be followed by a blank or a tab, so a longer name does not count.
int module_status_from_text(std::string_view modules, const std::string& name);

// The version in modinfo's "version:" line: the last blank- or tab-separated word.
std::string modinfo_version(std::string line);

// The release that utsrelease.h defines (UTS_RELEASE), without quotes; "" when none.
std::string kernel_release_from_header(const std::string& text);

// The first a.b.c version number in text, "" when there is none.
std::string first_version(const std::string& text);
// The major number of a compiler version (its first two characters read as a decimal number).
int compiler_major(const std::string& version);
