// The uninstaller: runs the removal operation of each record's kind, in list order, and the
// DKMS clean-up it needs. Removal is careful: changed files, non-empty directories and the
// reserved files of a still-installed product stay.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "installer/process_state.h"
#include "installer/records.h"

// Where DKMS keeps sources, builds and installed modules (/etc/dkms/framework.conf).
struct DkmsConfig {
  std::string source_tree = "/usr/src";
  std::string dkms_tree = "/var/lib/dkms";
  std::string install_tree = "/lib/modules";
};

// The removal operations keep their flags in process_state.uninstall; one uninstall per
// process is the expected use.

using RemoveOperation = uint8_t (*)(const FileInfo&);
// Kind word to removal operation; built once, never changed.
extern const std::map<std::string, RemoveOperation> RemoveHandler;

uint8_t log_ostrel_toolkit_install_path(const FileInfo& f);  // OSTREL
uint8_t rmlink(const FileInfo& f);                           // SYMLINK
uint8_t rmfile(const FileInfo& f);                           // FILE
uint8_t rmRFILE(const FileInfo& f);                          // RFILE
uint8_t rmRLink(const FileInfo& f);                          // RLINK
uint8_t rmdir(const FileInfo& f);                            // DIR
uint8_t rmservice(const FileInfo& f);                        // SERVICE
uint8_t rmDKMS(const FileInfo& f);                           // DKMS

// Runs the removal operations in list order; stops at the first hard failure.
uint8_t executeUninstall(const std::vector<FileInfo>& records);

// Quiet removal without result codes (reserved files of an installed driver stay).
void cleanFiles(const std::vector<FileInfo>& records, const std::string& installPath);

// The trees named in the text of a DKMS framework configuration; defaults for those it does not
// name.
DkmsConfig dkms_config_from_text(const std::string& text);
DkmsConfig parse_dkms_conf();
// Removes the product's DKMS registrations and sources: 0, 140, 141 or 146.
uint8_t uninstall_dkms();
