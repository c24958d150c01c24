#include "json_output.h"

using report::orNull;

VidResult collectResult(const RunConfig& config, const std::vector<bool>& created,
                        const std::vector<InstanceTiming>& timings, const std::vector<int64_t>& frames,
                        const RateReport& rate) {
    VidResult r;
    r.status = report::Status::Ok;
    if (config.minFps > 0) r.minFps = config.minFps;
    r.totalFrames = rate.totalFrames;
    if (rate.fps > 0) {
        r.fps = rate.fps;
        r.perInstanceFps = rate.perInstanceFps;
    }
    for (size_t k = 0; k < created.size(); ++k) {
        InstanceResult in;
        in.index = static_cast<int>(k);
        in.codec = config.instances[k].codec;
        in.input = config.instances[k].input;
        in.decoder = created[k];
        in.frames = frames[k];
        const InstanceTiming& t = timings[k];
        const double seconds = double(t.end.tv_sec - t.start.tv_sec) + double(t.end.tv_usec - t.start.tv_usec) / 1e6;
        if (t.started && t.ended && seconds > 0) in.fps = double(in.frames) / seconds;
        if (!in.decoder) {
            r.status = report::Status::Unknown;
            r.error = "decoder of instance " + std::to_string(k) + " could not be created";
        }
        r.instances.push_back(in);
    }
    if (created.empty()) {
        r.status = report::Status::Unknown;
        r.error = "no instance to run";
    } else if (r.minFps && !(r.fps && *r.fps >= *r.minFps) && r.status == report::Status::Ok) {
        r.status = report::Status::Critical;
        r.error = "total fps below --min-fps";
    }
    return r;
}

nlohmann::ordered_json vidprobeDocument(const VidResult& r) {
    auto doc = report::header(kVidprobeSchemaVersion, "vidprobe", kVidprobeVersion, r.status);
    auto instances = nlohmann::ordered_json::array();
    for (const InstanceResult& in : r.instances)
        instances.push_back({{"index", in.index},
                             {"codec", in.codec},
                             {"input", in.input},
                             {"decoder", in.decoder},
                             {"frames", in.frames},
                             {"fps", orNull(in.fps)}});
    doc["instances"] = instances;
    doc["totals"] = {{"frames", r.totalFrames}, {"fps", orNull(r.fps)}, {"per_instance_fps", orNull(r.perInstanceFps)}};
    doc["min_fps"] = orNull(r.minFps);
    doc["error"] = orNull(r.error);
    return doc;
}
