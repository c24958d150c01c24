#include "report.h"

RateReport computeRate(const std::vector<InstanceTiming>& timings, int64_t totalFrames) {
    RateReport report;
    report.totalFrames = totalFrames;
    double sum = 0;
    for (const InstanceTiming& t : timings) {
        if (!t.started || !t.ended) continue;
        float seconds = float(t.end.tv_sec - t.start.tv_sec) +
                        float(t.end.tv_usec - t.start.tv_usec) / 1e6f;
        sum += seconds;
        ++report.instancesTimed;
    }
    if (report.instancesTimed == 0 || sum <= 0) return report;
    double average = sum / report.instancesTimed;
    report.fps = double(totalFrames) / average;
    report.perInstanceFps = report.fps / report.instancesTimed;
    return report;
}

void printRate(FILE* out, const RateReport& report) {
    if (report.fps > 0)
        std::fprintf(out, "total_frames: %-8ld  Total fps: %-8.2f  Per-ins-fps: %-8.2f\n",
                     static_cast<long>(report.totalFrames), report.fps, report.perInstanceFps);
}
