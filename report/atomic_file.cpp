#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace report {

bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // A dot name, which node_exporter's textfile collector skips (it reads only *.prom).
    std::string name = ".";  // appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string at -O3
    name += target.filename().string();
    name += ".XXXXXX";
    std::string temp = (dir / name).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "cannot create a temporary file in " + dir.string() + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    // Readable by the collector, which often runs as another user.
    ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    const int savedErrno = errno;
    ok = close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) {
        // The rename itself reaches the disk only with the directory.
        const int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            fsync(d);
            close(d);
        }
        return true;
    }
    *error = "cannot write " + path + ": " + std::strerror(ok ? errno : savedErrno);
    unlink(temp.c_str());
    return false;
}

}  // namespace report
