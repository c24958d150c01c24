#include "metrics_output.h"

#include <cuda.h>

namespace {

std::string busId(int gpu) {
    char text[32] = "";
    return cuDeviceGetPCIBusId(text, sizeof text, gpu) == CUDA_SUCCESS ? text : "";
}

}  // namespace

std::vector<report::MetricFamily> vidprobeMetrics(const VidResult& result, int gpu) {
    std::vector<report::MetricFamily> m;
    report::addRunSamples(m, "vidprobe", result.status);
    const report::Labels device = report::deviceLabels(gpu, busId(gpu));
    report::addSample(m, "quelvan_vidprobe_frames_per_second", "Decoded frames per second of all instances together.",
                      device, result.fps);
    report::addSample(m, "quelvan_vidprobe_decoded_frames", "Frames decoded by all instances in the last run.", device,
                      result.instances.empty() ? std::nullopt : std::optional<double>(result.totalFrames));
    for (const auto& in : result.instances) {
        report::Labels l = device;
        l.push_back({"instance", std::to_string(in.index)});
        l.push_back({"codec", std::to_string(in.codec)});
        report::addSample(m, "quelvan_vidprobe_instance_frames_per_second", "Decoded frames per second of one instance.",
                          l, in.fps);
    }
    return m;
}
