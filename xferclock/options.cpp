// Reads the arguments from first to last. An option that takes a value moves on to that value,
// and the checks after it in the chain are made against the value, so a value that is itself an
// option name acts as that option.
#include "options.h"

#include <limits>

namespace {

constexpr int kUsageError = 2;  // malformed input the checks of the tool do not name

ParseOutcome end_run(int exit_code, std::string message)
{
    return ParseOutcome{false, exit_code, std::move(message)};
}

// A whole decimal integer with an optional sign, within int64.
bool parse_integer(const std::string& text, int64_t* out)
{
    size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size())
        return false;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        int digit = text[i] - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *out = text[0] == '-' ? -value : value;
    return true;
}

// "<count>kb", "<count>mb" or "<count>gb" into bytes; an empty outcome means success.
ParseOutcome parse_size(const std::string& option, const std::string& value, int64_t* bytes)
{
    if (value.size() < 2)
        return end_run(kUsageError, "Invalid value '" + value + "' of " + option +
                                        ": expected a count followed by kb, mb or gb.\n");
    std::string unit = value.substr(value.size() - 2);
    int64_t scale = unit == "kb" ? 1024 : unit == "mb" ? 1048576 : unit == "gb" ? 1073741824 : 0;
    if (scale == 0)
        return end_run(0, "Input size must add kb/mb/gb !!!\n");
    std::string digits = value.substr(0, value.size() - 2);
    int64_t count = 0;
    bool only_digits = !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
    if (!only_digits || !parse_integer(digits, &count))
        return end_run(kUsageError, "Invalid value '" + value + "' of " + option +
                                        ": expected a whole number followed by kb, mb or gb.\n");
    if (count < 1)
        return end_run(0, "Input items must > 0 !!!\n");
    if (count > std::numeric_limits<int64_t>::max() / scale)
        return end_run(kUsageError, "Invalid value '" + value + "' of " + option + ": too large.\n");
    *bytes = count * scale;
    return {};
}

ParseOutcome parse_devices(const std::string& value, const std::function<int()>& gpu_count,
                           std::vector<int>* devices)
{
    devices->clear();
    size_t begin = 0;
    while (begin <= value.size()) {
        size_t comma = value.find(',', begin);
        std::string item = value.substr(begin, comma - begin);
        begin = comma == std::string::npos ? value.size() + 1 : comma + 1;
        if (item.empty())
            continue;  // "0,,1" and a trailing comma name no device
        int64_t index = 0;
        if (!parse_integer(item, &index) || index < std::numeric_limits<int>::min() ||
            index > std::numeric_limits<int>::max())
            return end_run(kUsageError, "Invalid device index '" + item + "' in --device.\n");
        int count = gpu_count();
        if (index < 0 || index >= count)
            return end_run(0, "device_index must >= 0 and < " + std::to_string(count) + " !!!\n");
        devices->push_back(static_cast<int>(index));
    }
    if (devices->empty())
        return end_run(0, "--device must specify devices.\n");
    return {};
}

// Each size is one measured batch; a range beyond this many sizes is a typing error, and its list
// alone would exhaust memory.
constexpr size_t kMaxSizes = 4096;

ParseOutcome too_many_sizes()
{
    return end_run(kUsageError, "--start, --end and --increment give more than " +
                                    std::to_string(kMaxSizes) + " transfer sizes.\n");
}

// Builds the size list from start, end and factor or increment, or keeps the default.
ParseOutcome build_sizes(XferSettings& s)
{
    if (s.factor != -1) {
        if (s.start == -1 || s.end == -1)
            return end_run(0, "factor, start, end must be input at same time\n");
        s.sizes.clear();
        for (int64_t size = s.start; size <= s.end;) {
            s.sizes.push_back(size);
            if (size > s.end / s.factor)
                break;
            size *= s.factor;
        }
    } else if (s.increment != -1) {
        if (s.start == -1 || s.end == -1)
            return end_run(0, "increment, start, end must be input at same time\n");
        s.sizes.clear();
        for (int64_t size = s.start; size <= s.end;) {
            if (s.sizes.size() == kMaxSizes)
                return too_many_sizes();
            s.sizes.push_back(size);
            if (size > s.end - s.increment)
                break;
            size += s.increment;
        }
    }
    return {};
}

}  // namespace

ParseOutcome parse_arguments(const std::vector<std::string>& args,
                             const std::function<int()>& gpu_count, XferSettings& s)
{
    bool devices_given = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        // Moves to the option's value; false when the option is the last argument.
        auto take_value = [&]() {
            if (i + 1 >= args.size())
                return false;
            arg = args[++i];
            return true;
        };
        auto missing = [&](const char* option) {
            return end_run(kUsageError, std::string("Option ") + option + " needs a value.\n");
        };

        if (arg == "--version")
            return end_run(0, std::string("Version: ") + kXferclockVersion + "\n");
        if (arg == "--device") {
            if (!take_value())
                return missing("--device");
            ParseOutcome outcome = parse_devices(arg, gpu_count, &s.devices);
            if (!outcome.run)
                return outcome;
            devices_given = true;
        }
        if (arg == "--mode") {
            if (!take_value())
                return missing("--mode");
            if (arg == "--h2d")
                s.mode = 0;
            else if (arg == "--d2h")
                s.mode = 1;
        }
        for (auto [option, target] : {std::pair{"--start", &s.start}, std::pair{"--end", &s.end},
                                      std::pair{"--increment", &s.increment}}) {
            if (arg != option)
                continue;
            if (!take_value())
                return missing(option);
            ParseOutcome outcome = parse_size(option, arg, target);
            if (!outcome.run)
                return outcome;
        }
        if (arg == "--factor") {
            if (!take_value())
                return missing("--factor");
            if (!parse_integer(arg, &s.factor))
                return end_run(kUsageError, "Invalid value '" + arg + "' of --factor: expected a whole number.\n");
            if (s.factor < 1)
                return end_run(0, "Input items must > 0 !!!\n");
            if (s.factor == 1)
                return end_run(kUsageError, "--factor must be at least 2: a factor of 1 never reaches the end size.\n");
        }
        if (arg == "--repeats") {
            if (!take_value())
                return missing("--repeats");
            int64_t repeats = 0;
            if (!parse_integer(arg, &repeats) || repeats > std::numeric_limits<int>::max() ||
                repeats < std::numeric_limits<int>::min())
                return end_run(kUsageError, "Invalid value '" + arg + "' of --repeats: expected a whole number.\n");
            if (repeats < 1)
                return end_run(0, "Input repeats must > 0 !!!\n");
            s.repeats = static_cast<int>(repeats);
        }
    }

    ParseOutcome outcome = build_sizes(s);
    if (!outcome.run)
        return outcome;
    if (!devices_given) {
        s.devices.clear();
        for (int d = 0, count = gpu_count(); d < count; ++d)
            s.devices.push_back(d);
    }
    return {};
}
