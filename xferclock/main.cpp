// xferclock: host-to-device or device-to-host copy latency over a series of sizes, on several
// GPUs at once, timed with GPU events and with the host clock.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "json_output.h"
#include "metrics_output.h"
#include "options.h"
#include "report.h"
#include "xferclock.h"

namespace {

// What a failed runtime call leaves behind under --json or --strict: the document on the real
// standard output and status 2, as no figure can be trusted after it.
XferSettings* g_settings = nullptr;
int g_stdout = STDOUT_FILENO;

void on_failure(const char* line)
{
    std::fflush(stdout);
    if (g_settings->json) {
        XferResult r;
        r.direction = g_settings->mode == 1 ? "d2h" : "h2d";
        r.repeats = g_settings->repeats;
        r.error = line;
        std::string text = xferclock_document(r, kXferclockVersion).dump(2) + "\n";
        ssize_t ignored = write(g_stdout, text.data(), text.size());
        (void)ignored;
    }
    std::exit(g_settings->strict ? report::exitCode(report::Status::Unknown) : 1);
}

}  // namespace

int main(int argc, char** argv)
{
    int gpu_count = -1;  // asked once, when the arguments first need it
    auto count = [&gpu_count]() {
        if (gpu_count < 0)
            gpu_count = gpu_count_checked();
        return gpu_count;
    };

    XferSettings settings;
    const std::vector<std::string> args(argv, argv + argc);
    // The GPU count may be asked while the arguments are read, so its failure must already
    // know whether it ends a --json or --strict run.
    for (const std::string& arg : args) {
        settings.json = settings.json || arg == "--json";
        settings.strict = settings.strict || arg == "--strict";
    }
    std::unique_ptr<report::StdoutToStderr> to_stderr;
    if (settings.json || settings.strict) {
        g_settings = &settings;
        g_stdout = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        xfer_failure_handler = on_failure;
    }
    if (settings.json)
        to_stderr = std::make_unique<report::StdoutToStderr>();

    ParseOutcome outcome = parse_arguments(args, count, settings);
    if (!outcome.run) {
        std::fputs(outcome.message.c_str(), stdout);
        // --version is the one early end that is not a refusal.
        const bool refused = outcome.message.rfind("Version: ", 0) != 0;
        if (settings.json) {
            to_stderr.reset();
            XferResult r;
            r.direction = settings.mode == 1 ? "d2h" : "h2d";
            r.repeats = settings.repeats;
            r.status = refused ? report::Status::Unknown : report::Status::Ok;
            if (refused)
                r.error = outcome.message.substr(0, outcome.message.find_last_not_of('\n') + 1);
            report::printJson(xferclock_document(r, kXferclockVersion));
        }
        return settings.strict && refused ? report::exitCode(report::Status::Unknown) : outcome.exit_code;
    }
    std::optional<double> max_latency;
    if (settings.max_latency_us > 0)
        max_latency = settings.max_latency_us;

    std::printf("[%s]\n", "Xferclock Test");
    std::vector<float> host_latency, gpu_latency;
    run_test(settings.devices, settings.sizes, settings.repeats, host_latency, gpu_latency,
             settings.mode);
    print_results(stdout, settings.devices, settings.sizes, settings.repeats, host_latency,
                  gpu_latency, settings.mode);
    XferResult result = collect_results(settings.devices, settings.sizes, settings.repeats,
                                        host_latency, gpu_latency, settings.mode, max_latency);
    if (settings.json) {
        to_stderr.reset();
        report::printJson(xferclock_document(result, kXferclockVersion));
    }
    if (!settings.prom_file.empty())
        report::writeMetrics(settings.prom_file, xferclock_metrics(result), "xferclock");
    return settings.strict ? report::exitCode(result.status) : 0;
}
