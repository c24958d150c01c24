#include "installer/records.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "installer/codes.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/process_state.h"
#include "installer/utils.h"

const std::vector<std::string> RESERVED_FILES = {
    "bin/zusmi",           "lib",           "lib64/libcuda.so",
    "lib64/libcuda.so.1",  "lib64/libzuml.so", "lib64/libzuthunk.so",
    "lib64/libzulogger.so", "EULA.txt",     "copyright",
};

std::string cached_md5(const std::string& path) {
  auto& cache = process_state.digests;
  auto it = cache.find(path);
  if (it != cache.end()) return it->second;
  std::string digest = md5sum(path);
  if (!digest.empty()) cache[path] = digest;
  return digest;
}

bool is_reserved(const std::string& path, const std::string& installPath) {
  if (installPath.size() >= path.size()) return false;
  std::string rest = path.substr(installPath.size());
  size_t start = rest.find_first_not_of('/');
  if (start == std::string::npos) return false;
  rest.erase(0, start);
  for (const auto& r : RESERVED_FILES)
    if (rest == r) return true;
  return false;
}

static std::string install_dir_or_default(const std::string& installPath) {
  if (!installPath.empty()) return installPath;
  return host::path(std::string("/usr/local/ostrel-") + ostrel_version);
}

bool is_toolkit_installed(const std::string& installPath) {
  return isFileExists(install_dir_or_default(installPath) + "/lib64/libcudart.so");
}

bool is_driver_installed(const std::string& installPath) {
  return isFileExists(install_dir_or_default(installPath) + "/bin/ostrel-driver-uninstaller");
}

// Walks the directory listed at `listed`, recording each entry under `recorded`. The entry's
// kind comes from the listed tree; the digest from the recorded path (the installed copy).
static void walk(const std::string& listed, const std::string& recorded,
                 std::vector<FileInfo>& out) {
  DIR* d = opendir(listed.c_str());
  if (d) {
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string src = listed + "/" + e->d_name;
      std::string dst = recorded + "/" + e->d_name;
      struct stat st;
      if (lstat(src.c_str(), &st) != 0) continue;
      if (S_ISLNK(st.st_mode))
        out.push_back({"SYMLINK", dst, ""});
      else if (S_ISDIR(st.st_mode))
        walk(src, dst, out);
      else
        out.push_back({"FILE", dst, cached_md5(dst)});
    }
    closedir(d);
  }
  out.push_back({"DIR", recorded, ""});
}

std::vector<FileInfo> recursiveDir(const std::string& dir) {
  std::vector<FileInfo> out;
  walk(dir, dir, out);
  return out;
}

std::vector<FileInfo> recursiveDir(const std::string& rel, const std::string& base) {
  std::vector<FileInfo> out;
  walk(rel, base + "/" + rel, out);
  return out;
}

std::vector<FileInfo> sortFiles(const std::vector<FileInfo>& records) {
  std::vector<FileInfo> groups[4];
  for (const auto& f : records) {
    int g = f.type == "SYMLINK" ? 0 : f.type == "RFILE" ? 2 : f.type == "DIR" ? 3 : 1;
    groups[g].push_back(f);
  }
  std::vector<FileInfo> out;
  for (auto& g : groups) out.insert(out.end(), g.begin(), g.end());
  return out;
}

bool manifest_representable(const std::string& path) {
  return !path.empty() && path.find_first_of(" \n\r") == std::string::npos;
}

bool manifest_accepts(const std::string& path) {
  if (manifest_representable(path)) return true;
  zulogger::logger(ERROR, "Cannot record '%s' in the uninstall manifest: a path with a blank "
                   "or a line break cannot be represented. Remove it by hand.\n", path.c_str());
  return false;
}

std::string manifest_line(const FileInfo& f) {
  if (f.type == "OSTREL" || f.type == "SYMLINK" || f.type == "DIR") return f.type + " " + f.path;
  if (f.type == "RLINK") return "RLINK " + f.path + " ";
  return f.type + " " + f.path + " " + f.md5;
}

std::vector<std::string> manifest_lines(const std::vector<FileInfo>& records,
                                        const std::string& installPath, bool prefixed_only,
                                        const std::vector<std::string>& order) {
  std::vector<std::vector<std::string>> groups(order.size());
  const size_t others = std::find(order.begin(), order.end(), "") - order.begin();
  for (FileInfo f : records) {
    if (!manifest_accepts(f.path)) continue;
    bool prefixed = f.path.compare(0, installPath.size(), installPath) == 0;
    if ((prefixed || !prefixed_only) && is_reserved(f.path, installPath)) {
      if (f.type == "SYMLINK")
        f.type = "RLINK";
      else if (f.type != "DIR" && f.type != "SERVICE")
        f.type = "RFILE";
    }
    size_t g = std::find(order.begin(), order.end(), f.type) - order.begin();
    groups[g < order.size() ? g : others].push_back(manifest_line(f));
  }
  std::vector<std::string> out;
  for (auto& g : groups) out.insert(out.end(), g.begin(), g.end());
  return out;
}

std::vector<std::string> sortFileinfoToString(const std::vector<FileInfo>& records,
                                              const std::string& installPath) {
  return manifest_lines(records, installPath, false,
                        {"SERVICE", "SYMLINK", "", "RLINK", "RFILE", "DIR"});
}

std::vector<FileInfo> manifest_records(const std::string& text) {
  std::vector<FileInfo> out;
  for (const auto& line : split(text, '\n')) {
    std::vector<std::string> fields = split(line, ' ');
    if (fields.size() < 2) continue;  // a blank line or a bare kind names no item
    out.push_back({fields[0], fields[1], fields.size() > 2 ? fields[2] : fields[1]});
  }
  return out;
}

std::vector<FileInfo> parseManifest(bool noSystemd, const std::string& path) {
  std::vector<FileInfo> out;
  if (!isFileExists(path)) {
    zulogger::logger(WARNING, "Uninstall manifests not found at location: '%s'.\n", path.c_str());
    return out;
  }
  std::string text;
  if (!cachedFile(path, text)) return out;
  for (const FileInfo& f : manifest_records(text)) {
    if (f.type == "SERVICE" && noSystemd) {
      zulogger::logger(WARNING, "systemd is not installed, skip service: %s, %s\n",
                       f.type.c_str(), f.path.c_str());
      continue;
    }
    out.push_back(f);
  }
  return out;
}
