// Checks of --json documents in the end-to-end tests, with real peers: python3-jsonschema
// validates a document against its schema under docs/schema/, and jq reads values out of it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

#include "run_command.h"

namespace jsoncheck {

// The text in a temporary file for the peer programs; removed by the caller's Scratch.
struct Scratch {
    std::string path;
    explicit Scratch(const std::string& text) {
        char name[] = "/tmp/jsoncheck-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        if (fd >= 0) {
            ssize_t ignored = write(fd, text.data(), text.size());
            (void)ignored;
            close(fd);
        }
    }
    ~Scratch() { std::remove(path.c_str()); }
};

// "" when `document` is one JSON document valid against docs/schema/<schema>, else the problem.
inline std::string schemaProblem(const std::string& schema, const std::string& document) {
    Scratch doc(document);
    const testkit::CommandResult r = testkit::run_command("python3 " JSONCHECK_DIR "/validate.py " JSONCHECK_SCHEMAS
                                                          "/" + schema + " " + doc.path + " 2>&1");
    return r.status == 0 ? "" : r.output.empty() ? "validator failed" : r.output;
}

// jq -c <filter> of the document, without the final line end.
inline std::string jq(const std::string& filter, const std::string& document) {
    Scratch doc(document);
    std::string out = testkit::run_command("jq -c '" + filter + "' " + doc.path + " 2>&1").output;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace jsoncheck
