#include "report.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace report {

const char* statusName(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::Warning: return "warning";
    case Status::Critical: return "critical";
    case Status::Unknown: break;
    }
    return "unknown";
}

Status worse(Status a, Status b) { return static_cast<int>(b) > static_cast<int>(a) ? b : a; }

bool parseExitCodes(const std::string& text, ExitCodes* out) {
    if (text == "plain") *out = ExitCodes::Plain;
    else if (text == "nagios") *out = ExitCodes::Nagios;
    else return false;
    return true;
}

int exitCode(Status status, ExitCodes codes) {
    static constexpr int kPlain[] = {0, 1, 1, 2}, kNagios[] = {0, 1, 2, 3};
    const int i = static_cast<int>(status);
    return codes == ExitCodes::Nagios ? kNagios[i] : kPlain[i];
}

std::string hostName() {
    struct utsname name {};
    return uname(&name) == 0 ? name.nodename : "";
}

nlohmann::ordered_json header(int schemaVersion, const std::string& program, const std::string& version,
                              Status status) {
    return {{"schema_version", schemaVersion},
            {"program", program},
            {"version", version},
            {"host", hostName()},
            {"status", statusName(status)}};
}

void printJson(const nlohmann::ordered_json& document) {
    std::fflush(stdout);
    // Replace invalid UTF-8 (a stray byte from a sysfs file) instead of throwing.
    std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
}

StdoutToStderr::StdoutToStderr() {
    std::fflush(stdout);
    std::cout.flush();
    // Close-on-exec: the commands a program starts meanwhile must not keep the real output open.
    saved_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr() {
    std::fflush(stdout);
    std::cout.flush();
    if (saved_ >= 0) {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
}

}  // namespace report
