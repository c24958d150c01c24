#include "check.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "enum_device.h"
#include "health.h"
#include "host.h"
#include "json_output.h"
#include "metrics_output.h"

namespace {

using report::Status;

// What the watchdog writes: prepared before it is armed, since a signal handler may only call
// write and _exit.
std::string g_timeoutText;
int g_timeoutCode = 2;
int g_outFd = STDOUT_FILENO;

void onTimeout(int) {
    ssize_t ignored = write(g_outFd, g_timeoutText.data(), g_timeoutText.size());
    (void)ignored;
    _exit(g_timeoutCode);
}

std::string render(const CheckOptions& options, const TunerReport& r) {
    if (!options.json) return *r.checkLine + "\n";
    return tunerDocument(r, options.version).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int finish(const CheckOptions& options, const TunerReport& r) {
    std::fputs(render(options, r).c_str(), stdout);
    std::fflush(stdout);
    // A metrics file that cannot be written is told on standard error; the check's verdict stands.
    if (!options.promFile.empty()) report::writeMetrics(options.promFile, tunerMetrics(r), "gputuner");
    return report::exitCode(r.status, options.exitCodes);
}

int unknown(const CheckOptions& options, const std::string& reason) {
    TunerReport r;
    r.mode = "check";
    r.status = Status::Unknown;
    r.checkLine = unknownLine(reason);
    r.error = reason;
    return finish(options, r);
}

void armWatchdog(const CheckOptions& options, int seconds) {
    TunerReport r;
    r.mode = "check";
    r.status = Status::Unknown;
    r.error = "check timed out after " + std::to_string(seconds) + " s";
    r.checkLine = unknownLine(*r.error);
    g_timeoutText = render(options, r);
    g_timeoutCode = report::exitCode(Status::Unknown, options.exitCodes);
    // Close-on-exec, so a hung setpci does not hold our standard output open after we end.
    g_outFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (g_outFd < 0) g_outFd = STDOUT_FILENO;
    struct sigaction action {};
    action.sa_handler = onTimeout;
    sigaction(SIGALRM, &action, nullptr);
    alarm(static_cast<unsigned>(seconds));
}

}  // namespace

int runCheck(const CheckOptions& options) {
    Expectations expect;
    if (!options.configFile.empty()) {
        std::ifstream in(options.configFile);
        if (!in) return unknown(options, "cannot read " + options.configFile);
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!parseExpectations(text.str(), &expect, &error)) return unknown(options, options.configFile + " " + error);
    }
    if (!host::isRoot()) return unknown(options, "requires root privileges");
    if (!host::programOnPath("setpci")) return unknown(options, "setpci not found, install pciutils");
    armWatchdog(options, expect.timeoutSeconds);

    TunerReport r;
    r.mode = "check";
    {
        // Enumeration messages are not part of the one line.
        report::StdoutToStderr quiet;
        EnumDevice device;
        device.initPciDevice(false);
        r.state = readHostState(device.getAllBusIdSet(), {});
    }
    r.findings = evaluate(r.state, expect);
    r.status = overallStatus(r.state, r.findings);
    if (r.state.gpus.empty() && expect.gpus == 0) r.status = Status::Ok;
    r.checkLine = r.status == Status::Ok && r.state.gpus.empty() ? "OK: 0 GPUs, as expected" : checkLine(r.state, r.findings, expect.linkAtCapability);
    if (r.state.gpus.empty() && r.status == Status::Unknown) r.error = "no Quelvan GPU found";
    alarm(0);
    return finish(options, r);
}
