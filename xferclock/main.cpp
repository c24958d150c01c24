// xferclock: host-to-device or device-to-host copy latency over a series of sizes, on several
// GPUs at once, timed with GPU events and with the host clock.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "report.h"
#include "xferclock.h"

int main(int argc, char** argv)
{
    int gpu_count = -1;  // asked once, when the arguments first need it
    auto count = [&gpu_count]() {
        if (gpu_count < 0)
            gpu_count = gpu_count_checked();
        return gpu_count;
    };

    XferSettings settings;
    ParseOutcome outcome =
        parse_arguments(std::vector<std::string>(argv, argv + argc), count, settings);
    if (!outcome.run) {
        std::fputs(outcome.message.c_str(), stdout);
        return outcome.exit_code;
    }

    std::printf("[%s]\n", "Xferclock Test");
    std::vector<float> host_latency, gpu_latency;
    run_test(settings.devices, settings.sizes, settings.repeats, host_latency, gpu_latency,
             settings.mode);
    print_results(stdout, settings.devices, settings.sizes, settings.repeats, host_latency,
                  gpu_latency, settings.mode);
    return 0;
}
