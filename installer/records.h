// Installation records: one FileInfo per installed item, the uninstall manifest that holds them,
// the collector that records a copied tree, and the checksum cache the writers share.
#pragma once

#include <string>
#include <vector>

// One installed item. type is the kind word (OSTREL, SYMLINK, FILE, RFILE, RLINK, DIR, SERVICE,
// DKMS); path is where the item lies on disk (a unit name for SERVICE, the install path for
// OSTREL, a version word for DKMS); md5 is the digest for FILE, RFILE and SERVICE.
struct FileInfo {
  std::string type;
  std::string path;
  std::string md5;
};

// Paths relative to an install path that stay while the product is still installed.
extern const std::vector<std::string> RESERVED_FILES;

// The digest of path: from the digest cache (process_state.digests), otherwise md5sum (stored
// in the cache when not empty).
std::string cached_md5(const std::string& path);

// True when the rest of path after the first installPath.size() characters, leading "/"
// removed, is one of RESERVED_FILES. Only lengths are compared, not the prefix itself.
bool is_reserved(const std::string& path, const std::string& installPath);

// lib64/libcudart.so, resp. bin/ostrel-driver-uninstaller, exists under installPath (the
// default install directory when installPath is empty).
bool is_toolkit_installed(const std::string& installPath);
bool is_driver_installed(const std::string& installPath);

// Everything under dir, depth first, names beginning with "." skipped: SYMLINK for links,
// FILE with digest for other non-directories, DIR for each directory after its content.
std::vector<FileInfo> recursiveDir(const std::string& dir);
// The same walk of the directory rel, recorded as base + "/" + rel + "/...".
std::vector<FileInfo> recursiveDir(const std::string& rel, const std::string& base);

// Removal order: SYMLINK, other kinds, RFILE, DIR; list order inside each group.
std::vector<FileInfo> sortFiles(const std::vector<FileInfo>& records);

// True when the manifest line format can hold path: it is split at blanks and line breaks, so
// a path holding either would be read back as a different item.
bool manifest_representable(const std::string& path);
// manifest_representable, and logs why a path that is not is left out of the manifest.
bool manifest_accepts(const std::string& path);

// One manifest line for a record, by its kind (the line formats of the manifest).
std::string manifest_line(const FileInfo& record);

// Manifest lines grouped by kind in the given order ("" stands for every kind not named), list
// order inside each group. A reserved SYMLINK is written as RLINK, another reserved kind other
// than DIR and SERVICE as RFILE; with prefixed_only, only paths that begin with installPath are
// tested for being reserved. Records whose path the format cannot represent are left out with an
// ERROR message.
std::vector<std::string> manifest_lines(const std::vector<FileInfo>& records,
                                        const std::string& installPath, bool prefixed_only,
                                        const std::vector<std::string>& order);

// Generic manifest writer: manifest_lines testing every path, groups SERVICE, SYMLINK, others,
// RLINK, RFILE, DIR.
std::vector<std::string> sortFileinfoToString(const std::vector<FileInfo>& records,
                                              const std::string& installPath);

// The records of a manifest's text, in file order: kind, path and digest are the first three
// blank-separated fields of a line (a two-field line gives the path as its digest too); lines
// naming no item are skipped.
std::vector<FileInfo> manifest_records(const std::string& text);

// Reads a manifest back; SERVICE records are dropped when noSystemd is set. Empty when the file
// is missing.
std::vector<FileInfo> parseManifest(bool noSystemd, const std::string& path);
