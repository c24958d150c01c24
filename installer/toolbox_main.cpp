// ostrel-toolbox-installer: copies the files shipped beside it into a versioned toolbox directory
// and, when an install location is named, links it as "toolbox".
#include <dirent.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "installer/app.h"
#include "installer/codes.h"
#include "installer/utils.h"

namespace {

constexpr const char* kToolboxDir = "ostrel-toolbox-1.0.0";
constexpr const char* kInstallerName = "ostrel-toolbox-installer";
constexpr const char* kLinkName = "toolbox";
// Exit status when the link cannot be made or something else is in its way.
constexpr int kLinkFailed = 143;

const std::string kVersionedName = std::string("ostrel-") + ostrel_version;

// P with a trailing "/" and, unless its last component already is ostrel-4.3.0, that name added.
std::string versioned_base(std::string p) {
  if (p.back() != '/') p += "/";
  std::vector<char> buf(p.begin(), p.end());
  buf.push_back('\0');
  if (kVersionedName != basename(buf.data())) p += kVersionedName + "/";
  return p;
}

// Entries of dir, hidden ones left out, as full paths in listing order.
std::vector<std::string> list_sources(const std::string& dir) {
  std::vector<std::string> sources;
  DIR* d = opendir(dir.c_str());
  if (!d) return sources;
  while (struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    sources.push_back(dir + "/" + e->d_name);
  }
  closedir(d);
  return sources;
}

int fail(int status) {
  puts("Ostrel Toolbox installation failed.");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  set_umask();
  const char* home_env = getenv("HOME");
  const std::string home = home_env ? home_env : "";
  zu_setlocale();

  App app;
  app.SetApp(argc, argv, "Toolbox");
  app.install_path = "";
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  std::string base, link_dir;
  if (!app.install_path.empty()) {
    // A relative location is taken from the current directory so the link target stays valid.
    base = versioned_base(std::filesystem::absolute(app.install_path).string());
    link_dir = base;
  } else if (!home.empty()) {
    base = home;
  } else {
    printf("HOME is not set; name the install location with --install-path.\n");
    return -1;
  }

  if (!isDirExists(base)) {
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    if (ec) {
      printf("Failed to create install-path: %s\n%s\n", base.c_str(), ec.message().c_str());
      return -1;
    }
  }
  if (access(base.c_str(), W_OK) != 0) {
    printf("Permission denied on install-path: %s\n", base.c_str());
    return -1;
  }

  const std::string toolbox = base + (base.back() == '/' ? "" : "/") + kToolboxDir;
  if (!isDirExists(toolbox)) createDir(toolbox);

  for (const std::string& source : list_sources(getCurrentExeDirectory())) {
    if (zu_basename(source).rfind(kInstallerName, 0) == 0) continue;
    std::string out;
    int status = 0;
    exec("cp -fr " + shell_quote(source) + " " + shell_quote(toolbox) + " > /dev/null 2>&1", out,
         status);
    if (status != 0) {
      printf("copy file failed: %s\n", source.c_str());
      return fail(CODE_FILE_COPY);
    }
  }

  std::string location = toolbox;
  if (!link_dir.empty()) {
    const std::string link = link_dir + kLinkName;
    struct stat st;
    if (lstat(link.c_str(), &st) != 0) {
      if (symlink((link_dir + kToolboxDir).c_str(), link.c_str()) != 0) {
        puts("Failed to create symlink.");
        return fail(kLinkFailed);
      }
    } else if (!S_ISLNK(st.st_mode)) {
      puts("File named 'toolbox' already exists and is not a symlink.");
      return fail(kLinkFailed);
    }
    location = link;
  }

  printf("\nOstrel Toolbox installation succeed.\nToolbox is installed in %s\nPlease make sure that\n"
         "- PATH includes %s/bin\n",
         location.c_str(), location.c_str());
  return 0;
}
