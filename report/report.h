// Machine-readable results shared by every program: the overall status of a run, its exit code
// (our own 0/1/2 or the Nagios plugin codes), and the header every JSON document starts with.
// Each program keeps its own result record; this library only knows what all of them share, so
// a further renderer (metrics) needs nothing from here but the status and the host name.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace report {

// Ordered from best to worst; worse() keeps the later one.
enum class Status { Ok, Warning, Critical, Unknown };

const char* statusName(Status status);  // "ok", "warning", "critical", "unknown"
Status worse(Status a, Status b);

// Plain: 0 ok, 1 warning or critical, 2 unknown. Nagios: 0 ok, 1 warning, 2 critical, 3 unknown.
enum class ExitCodes { Plain, Nagios };
// "plain" or "nagios"; false for anything else.
bool parseExitCodes(const std::string& text, ExitCodes* out);
int exitCode(Status status, ExitCodes codes = ExitCodes::Plain);

// The node name of uname(2), "" when unavailable.
std::string hostName();

// schema_version, program, version, host and status: the keys every document opens with.
nlohmann::ordered_json header(int schemaVersion, const std::string& program, const std::string& version,
                              Status status);

// A value, or null when it is unknown: the documents keep every key.
template <typename T>
nlohmann::ordered_json orNull(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// Writes the document as one pretty-printed JSON text and a line end on standard output.
void printJson(const nlohmann::ordered_json& document);

// While alive, what the program prints on standard output goes to standard error, so the
// human text of a JSON run never mixes with the document. Restored on destruction.
class StdoutToStderr {
public:
    StdoutToStderr();
    ~StdoutToStderr();
    StdoutToStderr(const StdoutToStderr&) = delete;
    StdoutToStderr& operator=(const StdoutToStderr&) = delete;

private:
    int saved_ = -1;
};

}  // namespace report
