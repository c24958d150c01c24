// vidprobe: runs several video decoder instances side by side on one GPU and reports the frame
// rates; with -r every decoded frame is also written to test_<instance>.rgb.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cuda_check.h"
#include "decode_threads.h"
#include "json_output.h"
#include "metrics_output.h"
#include "options.h"
#include "report.h"

namespace {

RunConfig config; // zero-filled before the options are read; large, so not on the stack

struct Instance {
    ThreadArgument argument;
    pthread_t feeder{};
    pthread_t drainer{};
    bool started = false;
    bool finished = false;
    bool running = false;
    InstanceTiming timing;
};

void fillCreateInfo(CUVIDDECODECREATEINFO& info, const InstanceSettings& s, int n) {
    info.bsMode = s.bsMode;
    info.codec = s.codec;
    info.bsSize = s.bsSize;
    info.wtlFormat = s.wtlFormat;
    info.n = n;
    info.cbcrInterleave = s.cbcrInterleave;
    info.nv21 = s.nv21;
    std::memcpy(info.outputPath, s.output, sizeof info.outputPath); // NUL-padded by the parser
    info.scaleWidth = s.scaleWidth;
    info.scaleHeight = s.scaleHeight;
    info.secondaryAxi = s.secondaryAxi;
    info.disableReorder = s.disableReorder;
}

// Notes the start when the decoder reports 1 and the instance is not yet marked running.
uint32_t observe(Instance& in, CUvideodecoder handle) {
    CUVIDDECODESTATUS status{};
    cuvidGetDecodeStatus(handle, &status);
    if (status.status == cuvidDecodeStatus_Decoding && !in.running) {
        gettimeofday(&in.timing.start, nullptr);
        in.timing.started = in.running = true;
    }
    return status.status;
}

// Watches every started instance until its decoder reports the end, then joins its threads and
// destroys its decoder.
void monitor(std::vector<Instance>& instances, unsigned startedCount) {
    usleep(10);
    unsigned finishedCount = 0;
    while (finishedCount < startedCount) {
        for (size_t k = 0; k < instances.size(); ++k) {
            Instance& in = instances[k];
            if (!vdec_handle[k] || in.finished) continue;
            if (observe(in, vdec_handle[k]) == cuvidDecodeStatus_Finished) {
                if (in.running) {
                    gettimeofday(&in.timing.end, nullptr);
                    in.timing.ended = true;
                    in.running = false;
                }
                if (in.started) {
                    pthread_join(in.feeder, nullptr);
                    pthread_join(in.drainer, nullptr);
                }
                cuvidDestroyDecoder(vdec_handle[k]);
                vdec_handle[k] = nullptr;
                in.finished = true;
                ++finishedCount;
            }
        }
    }
}

void finish() {
    std::printf("finished decode, destory context.\n");
    checkCudaErrors(cuCtxDestroy_v2(m_cuContext));
}

// --json and --strict: the document goes to the real standard output (saved before the human
// text was sent to standard error), and the status decides the exit code.
int g_stdout = STDOUT_FILENO;
std::unique_ptr<report::StdoutToStderr> g_toStderr;

void writeDocument(const VidResult& r) {
    const std::string text = vidprobeDocument(r).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fflush(stdout);
    ssize_t ignored = write(g_stdout, text.data(), text.size());
    (void)ignored;
}

// The end of a run that stopped early: today's status, or 2 under --strict.
int stopped(int status, const std::string& reason) {
    VidResult r;
    r.error = reason;
    if (config.json) writeDocument(r);
    if (config.promFile) report::writeMetrics(config.promFile, vidprobeMetrics(r, config.minor), "vidprobe");
    return config.strict ? report::exitCode(report::Status::Unknown) : status;
}

void onDriverFailure(const char* line) {
    std::fflush(nullptr);
    std::_Exit(stopped(1, line));
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    switch (parseOptions(argc, argv, config, error)) {
    case ParseResult::Help: printHelp(stdout, argv[0]); return 0;
    case ParseResult::Refused: std::fprintf(stderr, "vidprobe: %s\n", error.c_str()); return 1;
    case ParseResult::Run: break;
    }
    const unsigned count = config.instanceCount;
    if (config.json || config.strict) {
        g_stdout = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        cuda_failure_handler = onDriverFailure;
    }
    if (config.json) g_toStderr = std::make_unique<report::StdoutToStderr>();

    for (unsigned k = 0; k < count; ++k) {
        struct stat st;
        if (stat(config.instances[k].input, &st) != 0) {
            std::printf("decode file does not exists.\n");
            return stopped(0, std::string("decode file does not exist: ") + config.instances[k].input);
        }
    }

    std::vector<Instance> instances(count);
    // Frame files are opened before any decoder starts, so an unwritable one stops the run
    // before work is lost.
    if (config.frameOutput) {
        for (unsigned k = 0; k < count; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "test_%u.rgb", k);
            instances[k].argument.frameFile = std::fopen(name, "wb+");
            if (!instances[k].argument.frameFile) {
                std::fprintf(stderr, "vidprobe: cannot open frame file %s: %s\n", name,
                             std::strerror(errno));
                return stopped(1, std::string("cannot open frame file ") + name);
            }
        }
    }

    checkCudaErrors(cuInit(0));
    int gpuCount = 0;
    checkCudaErrors(cuDeviceGetCount(&gpuCount));
    std::printf("number of Gpu : %d\n", gpuCount);
    CUdevice device = 0;
    checkCudaErrors(cuDeviceGet(&device, config.minor));
    std::printf("cuDeviceGet is: %d\n", device);
    char name[80] = {};
    checkCudaErrors(cuDeviceGetName(name, sizeof name, device));
    std::printf("GPU in use: %s\n", name);
    checkCudaErrors(cuCtxCreate_v2(&m_cuContext, 0, device));

    CUVIDDECODECREATEINFO info{};
    std::vector<bool> created(count, false);
    for (unsigned k = 0; k < count; ++k) {
        fillCreateInfo(info, config.instances[k], config.n);
        CUresult result = cuvidCreateDecoder(m_cuContext, &vdec_handle[k], &info);
        if (result != CUDA_SUCCESS) {
            std::printf("Failed to cuvidCreateDecoder ret: %d\n", result);
            vdec_handle[k] = nullptr;
        }
        created[k] = vdec_handle[k] != nullptr;
    }

    unsigned startedCount = 0;
    for (unsigned k = 0; k < count; ++k) {
        if (!vdec_handle[k]) continue;
        Instance& in = instances[k];
        in.argument.handle = vdec_handle[k];
        in.argument.config = &config;
        in.argument.index = static_cast<int>(k);
        // A short stream on a busy host can finish before the monitor's first pass; looking once
        // as the threads start keeps such an instance in the rate.
        observe(in, vdec_handle[k]);
        int err = pthread_create(&in.feeder, nullptr, task_send_bitstream, &in.argument);
        if (err != 0) {
            std::printf("Failed to pthread_create ret: %d\n", err);
            finish();
            return stopped(0, "cannot start a decoding thread");
        }
        err = pthread_create(&in.drainer, nullptr, get_video_frame, &in.argument);
        if (err != 0) {
            std::printf("Failed to pthread_create ret: %d\n", err);
            finish();
            return stopped(0, "cannot start a decoding thread");
        }
        in.started = true;
        ++startedCount;
    }

    monitor(instances, startedCount);

    for (Instance& in : instances) // files of instances that never ran
        if (in.argument.frameFile) std::fclose(in.argument.frameFile);

    std::vector<InstanceTiming> timings;
    for (const Instance& in : instances) timings.push_back(in.timing);
    const RateReport rate = computeRate(timings, total_frames);
    if (count != 0) printRate(stdout, rate);
    finish();
    const VidResult result =
        collectResult(config, created, timings, std::vector<int64_t>(instance_frames, instance_frames + count), rate);
    if (config.json) writeDocument(result);
    if (config.promFile) report::writeMetrics(config.promFile, vidprobeMetrics(result, config.minor), "vidprobe");
    return config.strict ? report::exitCode(result.status) : 0;
}
