// Emulated GPUs and failure injection, configured once from the environment.
#include "sim_config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct FailRule {
    long long at = 1;      // 1-based call number that fails
    long long calls = 0;   // calls counted so far
};

struct SimConfig {
    std::vector<SimGpu> gpus;
    SimRules rules = SimRules::generic;
    std::map<std::string, FailRule> fail;
    std::mutex mutex;  // guards the call counters
};

[[noreturn]] void bad_variable(const char* name, const std::string& value, const char* why)
{
    std::fprintf(stderr, "emulated GPU platform: bad value '%s' of %s: %s\n", value.c_str(), name,
                 why);
    std::exit(2);
}

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> items;
    size_t begin = 0;
    for (;;) {
        size_t end = text.find(sep, begin);
        items.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos)
            return items;
        begin = end + 1;
    }
}

// A whole decimal number in [min, max], or false.
bool parse_number(const std::string& text, long long min, long long max, long long* out)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    long long value = std::stoll(text);
    if (value < min || value > max)
        return false;
    *out = value;
    return true;
}

std::string env(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

void read_capabilities(SimConfig& config)
{
    const char* name = "QUELVAN_SIM_CC";
    std::string text = env(name, "8.0");
    std::vector<std::string> items = split(text, ',');
    if (items.size() != 1 && items.size() != config.gpus.size())
        bad_variable(name, text, "give one value or one per GPU");
    for (size_t i = 0; i < config.gpus.size(); ++i) {
        const std::string& item = items.size() == 1 ? items[0] : items[i];
        size_t dot = item.find('.');
        long long major = 0, minor = 0;
        if (dot == std::string::npos || !parse_number(item.substr(0, dot), 1, 99, &major) ||
            !parse_number(item.substr(dot + 1), 0, 9, &minor))
            bad_variable(name, text, "expected major.minor, for example 8.0");
        config.gpus[i].major = static_cast<int>(major);
        config.gpus[i].minor = static_cast<int>(minor);
    }
}

void read_failures(SimConfig& config)
{
    const char* name = "QUELVAN_SIM_FAIL";
    std::string text = env(name, "");
    if (text.empty())
        return;
    for (const std::string& item : split(text, ',')) {
        size_t at = item.find('@');
        std::string api = item.substr(0, at);
        FailRule rule;
        if (api.empty() ||
            (at != std::string::npos && !parse_number(item.substr(at + 1), 1, 1LL << 40, &rule.at)))
            bad_variable(name, text, "expected a comma list of api[@n] with n >= 1");
        config.fail[api] = rule;
    }
}

SimConfig& config()
{
    static SimConfig* instance = [] {
        auto* c = new SimConfig;
        long long gpus = 0, mem_mb = 0;
        std::string text = env("QUELVAN_SIM_GPUS", "1");
        if (!parse_number(text, 0, 64, &gpus))
            bad_variable("QUELVAN_SIM_GPUS", text, "expected a GPU count from 0 to 64");
        text = env("QUELVAN_SIM_MEM_MB", "16384");
        if (!parse_number(text, 1, 1LL << 24, &mem_mb))
            bad_variable("QUELVAN_SIM_MEM_MB", text, "expected MiB from 1 to 16777216");
        c->gpus.resize(static_cast<size_t>(gpus));
        for (SimGpu& gpu : c->gpus)
            gpu.total_bytes = static_cast<size_t>(mem_mb) << 20;
        read_capabilities(*c);
        read_failures(*c);
        text = env("QUELVAN_SIM_RULES", "generic");
        if (text == "nvidia")
            c->rules = SimRules::nvidia;
        else if (text != "generic")
            bad_variable("QUELVAN_SIM_RULES", text, "expected generic or nvidia");
        return c;
    }();
    return *instance;
}

// Counts one call of `api`; returns the 1-based call number and the rule's failing number, or
// 0 when no rule names the API.
long long count_call(const char* api, long long* at)
{
    SimConfig& c = config();
    if (c.fail.empty())
        return 0;
    std::lock_guard<std::mutex> lock(c.mutex);
    auto it = c.fail.find(api);
    if (it == c.fail.end())
        return 0;
    *at = it->second.at;
    return ++it->second.calls;
}

}  // namespace

int sim_gpu_count() { return static_cast<int>(config().gpus.size()); }

const SimGpu& sim_gpu(int index) { return config().gpus.at(static_cast<size_t>(index)); }

SimRules sim_rules() { return config().rules; }

bool sim_should_fail(const char* api)
{
    long long at = 0;
    long long call = count_call(api, &at);
    return call != 0 && call == at;
}

bool sim_corrupt_gemm()
{
    long long at = 0;
    long long call = count_call("gemm_result", &at);
    return call != 0 && call >= at;
}
