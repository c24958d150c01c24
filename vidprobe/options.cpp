#include "options.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

enum LongOption {
    kCoreNum = 256,
    kCoreIdx,
    kInstanceNum,
    kCodec,
    kInput,
    kOutput,
    kBsSize,
    kBsMode,
    kEnableWtl,
    kWtlFormat,
    kPf,
    kPfClock,
    kBw,
    kMinor,
    kCbcrInterleave,
    kNv21,
    kSclw,
    kSclh,
    kSecondaryAxi,
    kDisableReorder,
    kJson,
    kStrict,
    kPromFile,
};

const option kLongOptions[] = {
    {"core-num", required_argument, nullptr, kCoreNum},
    {"coreIdx", required_argument, nullptr, kCoreIdx},
    {"instance-num", required_argument, nullptr, kInstanceNum},
    {"codec", required_argument, nullptr, kCodec},
    {"input", required_argument, nullptr, kInput},
    {"output", required_argument, nullptr, kOutput},
    {"bs-size", required_argument, nullptr, kBsSize},
    {"bsmode", required_argument, nullptr, kBsMode},
    {"enable-wtl", required_argument, nullptr, kEnableWtl},
    {"wtl-format", required_argument, nullptr, kWtlFormat},
    {"pf", required_argument, nullptr, kPf},
    {"pf-clock", required_argument, nullptr, kPfClock},
    {"bw", required_argument, nullptr, kBw},
    {"minor", required_argument, nullptr, kMinor},
    {"enable-cbcrinterleave", required_argument, nullptr, kCbcrInterleave},
    {"enable-nv21", required_argument, nullptr, kNv21},
    {"sclw", required_argument, nullptr, kSclw},
    {"sclh", required_argument, nullptr, kSclh},
    {"secondary-axi", required_argument, nullptr, kSecondaryAxi},
    {"disable-reorder", required_argument, nullptr, kDisableReorder},
    {"json", no_argument, nullptr, kJson},
    {"strict", no_argument, nullptr, kStrict},
    {"prom-file", required_argument, nullptr, kPromFile},
    {nullptr, 0, nullptr, 0},
};

std::vector<std::string> splitItems(const char* value) {
    std::vector<std::string> items;
    std::string item;
    for (const char* p = value;; ++p) {
        if (*p == ',' || *p == '\0') {
            items.push_back(item);
            item.clear();
            if (*p == '\0') break;
        } else {
            item += *p;
        }
    }
    return items;
}

int32_t firstItem(const char* value) { return std::atoi(splitItems(value).front().c_str()); }

// Item j of value goes to instance j, for as many instances as the count in force has.
template <typename Assign>
void perInstance(RunConfig& cfg, const char* value, Assign assign) {
    std::vector<std::string> items = splitItems(value);
    for (size_t j = 0; j < items.size() && j < cfg.instanceCount; ++j)
        assign(cfg.instances[j], items[j]);
}

template <typename Field>
void perInstanceInt(RunConfig& cfg, const char* value, Field InstanceSettings::*field) {
    perInstance(cfg, value, [field](InstanceSettings& s, const std::string& item) {
        s.*field = static_cast<Field>(std::atoi(item.c_str()));
    });
}

void perInstanceFlag(RunConfig& cfg, const char* value, uint8_t InstanceSettings::*field) {
    perInstance(cfg, value, [field](InstanceSettings& s, const std::string& item) {
        s.*field = std::atoi(item.c_str()) != 0 ? 1 : 0;
    });
}

bool perInstancePath(RunConfig& cfg, const char* value, char (InstanceSettings::*field)[kPathBytes],
                     const char* what, std::string& error) {
    perInstance(cfg, value, [&](InstanceSettings& s, const std::string& item) {
        if (item.size() >= kPathBytes) {
            if (error.empty())
                error = std::string(what) + " path longer than " +
                        std::to_string(kPathBytes - 1) + " bytes: " + item;
            return;
        }
        std::strncpy(s.*field, item.c_str(), kPathBytes);
    });
    return error.empty();
}

// --min-fps is taken out before getopt_long sees the arguments: as one of its options it would
// make the abbreviation --min, which users type for --minor, ambiguous.
bool takeMinFps(int& argc, char** argv, RunConfig& cfg, std::string& error) {
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = nullptr;
        if (arg == "--min-fps" && i + 1 < argc) value = argv[++i];
        else if (arg.rfind("--min-fps=", 0) == 0) value = argv[i] + 10;
        if (!value) {
            argv[kept++] = argv[i];
            continue;
        }
        char* end = nullptr;
        cfg.minFps = std::strtod(value, &end);
        if (*value == '\0' || *end != '\0' || !(cfg.minFps > 0)) {
            error = std::string("--min-fps needs frames per second above 0, not ") + value;
            return false;
        }
    }
    argc = kept;
    argv[kept] = nullptr;
    return true;
}

} // namespace

ParseResult parseOptions(int argc, char** argv, RunConfig& cfg, std::string& error) {
    if (!takeMinFps(argc, argv, cfg, error)) return ParseResult::Refused;
    optind = 0; // restart getopt's scan; the tests parse several command lines in one process
    for (;;) {
        int opt = getopt_long(argc, argv, "hrn:", kLongOptions, nullptr);
        if (opt == -1 || opt == '?' || opt == ':') break;
        switch (opt) {
        case 'h': return ParseResult::Help;
        case 'r': cfg.frameOutput = 1; break;
        case 'n': cfg.n = firstItem(optarg); break;
        case kInstanceNum:
            cfg.instanceCount = static_cast<uint32_t>(firstItem(optarg));
            if (cfg.instanceCount > kMaxInstances) {
                error = "at most " + std::to_string(kMaxInstances) + " instances are supported, " +
                        optarg + " asked for";
                return ParseResult::Refused;
            }
            break;
        case kMinor: cfg.minor = std::atoi(optarg); break;
        case kInput:
            if (!perInstancePath(cfg, optarg, &InstanceSettings::input, "input", error))
                return ParseResult::Refused;
            break;
        case kOutput:
            if (!perInstancePath(cfg, optarg, &InstanceSettings::output, "output", error))
                return ParseResult::Refused;
            break;
        case kCodec: perInstanceInt(cfg, optarg, &InstanceSettings::codec); break;
        case kBsMode: perInstanceInt(cfg, optarg, &InstanceSettings::bsMode); break;
        case kBsSize: perInstanceInt(cfg, optarg, &InstanceSettings::bsSize); break;
        case kWtlFormat: perInstanceInt(cfg, optarg, &InstanceSettings::wtlFormat); break;
        case kPfClock: perInstanceInt(cfg, optarg, &InstanceSettings::pfClock); break;
        case kBw: perInstanceInt(cfg, optarg, &InstanceSettings::bw); break;
        case kCbcrInterleave: perInstanceInt(cfg, optarg, &InstanceSettings::cbcrInterleave); break;
        case kNv21: perInstanceInt(cfg, optarg, &InstanceSettings::nv21); break;
        case kSclw: perInstanceInt(cfg, optarg, &InstanceSettings::scaleWidth); break;
        case kSclh: perInstanceInt(cfg, optarg, &InstanceSettings::scaleHeight); break;
        case kDisableReorder: perInstanceInt(cfg, optarg, &InstanceSettings::disableReorder); break;
        case kEnableWtl: perInstanceFlag(cfg, optarg, &InstanceSettings::enableWtl); break;
        case kPf: perInstanceFlag(cfg, optarg, &InstanceSettings::pf); break;
        case kSecondaryAxi: {
            // The base is decided once for the whole list: "0x3,5" is read as 0x3 and 0x5.
            int base = std::strncmp(optarg, "0x", 2) == 0 ? 16 : 10;
            perInstance(cfg, optarg, [base](InstanceSettings& s, const std::string& item) {
                s.secondaryAxi = static_cast<uint32_t>(std::strtoul(item.c_str(), nullptr, base));
            });
            break;
        }
        case kJson: cfg.json = 1; break;
        case kStrict: cfg.strict = 1; break;
        case kPromFile: cfg.promFile = optarg; break;
        default: break; // --core-num, --coreIdx: accepted for compatibility, no effect
        }
    }
    return ParseResult::Run;
}

void printHelp(FILE* out, const char* argv0) {
    const char* slash = std::strrchr(argv0, '/');
    const char* name = slash ? slash + 1 : argv0;
    const char* separator =
        "------------------------------------------------------------------------------";
    std::fprintf(out, "%s\n", separator);
    std::fprintf(out, "%s(API v%d.%d.%d)\n", name, 5, 5, 72);
    std::fprintf(out, "\tSample program decoder\n");
    std::fprintf(out, "%s\n", separator);
    std::fprintf(out, "%s [option] --input <stream list file> --output <yuv list file.>\n", name);
    static const char* const lines[] = {
        "--instance-num    total instance-number to run. all instance should be set for every "
        "option.",
        "--codec           The index of codec (AVC = 0, HEVC = 12, VP9 = 13, AVS2 = 14).\n"
        "                  if instance-num > 0, HEVC instance-num=2, parameter is: --codec=12,12 ",
        "--input           bitstream path.",
        "--output          yuv path.",
        "--bs-size         bit stream buffer size in byte, if set 0, decode auto set size.",
        "--bsmode          set bitstream mode.",
        "--enable-wtl      enable wtl option. default 0.  if get yuv, must set 1.",
        "--wtl-format      yuv format. default 0.",
        "--minor           The index of card.",
        "--enable-cbcrinterleave     enable cbcrInterleave(NV12), default off.",
        "--enable-nv21               enable NV21(must set enable-cbcrInterleave).",
        "--sclw                      set scale width value.",
        "--sclh                      set scale height value.",
        "--secondary-axi             0~7: bit oring values, Please refer programmer's guide or "
        "datasheet.",
        "--disable-reorder           set disable reorder.",
        "--json                      print the result as one JSON document on standard output.",
        "--strict                    exit 1 below --min-fps, 2 when no decoder or device can start.",
        "--min-fps                   lowest total fps of the run (with --strict).",
        "--prom-file FILE            also write Prometheus metrics of the run to FILE.",
    };
    for (const char* line : lines) std::fprintf(out, "%s\n", line);
}
