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

[[noreturn]] void bad_variable(const SimEnvError& e)
{
    std::fprintf(stderr, "emulated GPU platform: bad value '%s' of %s: %s\n", e.value.c_str(), e.name,
                 e.why);
    std::exit(2);
}

bool refuse(SimEnvError& error, const char* name, const std::string& value, const char* why)
{
    error = {name, value, why};
    return false;
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

bool read_capabilities(const std::string& text, SimSettings& settings, SimEnvError& error)
{
    const char* name = "QUELVAN_SIM_CC";
    std::vector<std::string> items = split(text, ',');
    if (items.size() != 1 && items.size() != settings.gpus.size())
        return refuse(error, name, text, "give one value or one per GPU");
    for (size_t i = 0; i < settings.gpus.size(); ++i) {
        const std::string& item = items.size() == 1 ? items[0] : items[i];
        size_t dot = item.find('.');
        long long major = 0, minor = 0;
        if (dot == std::string::npos || !parse_number(item.substr(0, dot), 1, 99, &major) ||
            !parse_number(item.substr(dot + 1), 0, 9, &minor))
            return refuse(error, name, text, "expected major.minor, for example 8.0");
        settings.gpus[i].major = static_cast<int>(major);
        settings.gpus[i].minor = static_cast<int>(minor);
    }
    return true;
}

bool read_failures(const std::string& text, SimSettings& settings, SimEnvError& error)
{
    if (text.empty())
        return true;
    for (const std::string& item : split(text, ',')) {
        size_t at = item.find('@');
        std::string api = item.substr(0, at);
        long long call = 1;
        if (api.empty() ||
            (at != std::string::npos && !parse_number(item.substr(at + 1), 1, 1LL << 40, &call)))
            return refuse(error, "QUELVAN_SIM_FAIL", text, "expected a comma list of api[@n] with n >= 1");
        settings.fail_at[api] = call;
    }
    return true;
}

SimConfig& config()
{
    static SimConfig* instance = [] {
        SimSettings settings;
        SimEnvError error;
        if (!read_sim_settings(std::getenv("QUELVAN_SIM_GPUS"), std::getenv("QUELVAN_SIM_CC"),
                               std::getenv("QUELVAN_SIM_MEM_MB"), std::getenv("QUELVAN_SIM_FAIL"),
                               std::getenv("QUELVAN_SIM_RULES"), settings, error))
            bad_variable(error);
        auto* c = new SimConfig;
        c->gpus = std::move(settings.gpus);
        for (const auto& [api, at] : settings.fail_at)
            c->fail[api].at = at;
        c->rules = settings.rules;
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

bool read_sim_settings(const char* gpus, const char* cc, const char* mem_mb, const char* fail,
                       const char* rules, SimSettings& settings, SimEnvError& error)
{
    const std::string rules_text = rules ? rules : "generic";
    if (rules_text == "nvidia")
        settings.rules = SimRules::nvidia;
    else if (rules_text != "generic")
        return refuse(error, "QUELVAN_SIM_RULES", rules_text, "expected generic or nvidia");
    long long count = 0, mib = 0;
    const std::string gpus_text = gpus ? gpus : "1", mem_text = mem_mb ? mem_mb : "16384";
    if (!parse_number(gpus_text, 0, 64, &count))
        return refuse(error, "QUELVAN_SIM_GPUS", gpus_text, "expected a GPU count from 0 to 64");
    if (!parse_number(mem_text, 1, 1LL << 24, &mib))
        return refuse(error, "QUELVAN_SIM_MEM_MB", mem_text, "expected MiB from 1 to 16777216");
    settings.gpus.assign(static_cast<size_t>(count), SimGpu{});
    for (SimGpu& gpu : settings.gpus)
        gpu.total_bytes = static_cast<size_t>(mib) << 20;
    return read_capabilities(cc ? cc : "8.0", settings, error) && read_failures(fail ? fail : "", settings, error);
}

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
