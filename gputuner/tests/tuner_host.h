// The fixture of the end-to-end runs: a fake PCI host in a temporary directory, bound over
// /sys/bus/pci and /sys/devices in a private mount namespace while the built gputuner runs, so
// the real setpci and lspci read and write the fake config files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fakehost.h"
#include "run_command.h"

namespace tunertest {

namespace fs = std::filesystem;
using fakehost::Device;

const std::string kRed = "\033[31mERROR: ", kReset = "\033[0m";

struct Result {
    std::string out;
    int status = -1;
};

inline Result runShell(const std::string& cmd) {
    testkit::CommandResult run = testkit::run_command(cmd);
    return {run.output, run.status};
}

inline std::string skipReason() {
    if (geteuid() != 0) return "needs root to bind fake hosts over /sys";
    if (std::system("command -v setpci >/dev/null && command -v lspci >/dev/null") != 0) return "pciutils missing";
    if (std::system("unshare -m --propagation private sh -c 'mount --bind /sys/bus/pci /sys/bus/pci' "
                    ">/dev/null 2>&1") != 0)
        return "unshare -m or bind mounts are not available here";
    return "";
}

class TunerHost : public ::testing::Test {
protected:
    void SetUp() override {
        static const std::string reason = skipReason();
        if (!reason.empty()) GTEST_SKIP() << reason;
        char name[] = "/tmp/gputuner-host-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }

    void write(const std::vector<Device>& host) {
        devices = host;
        fs::remove_all(dir);
        ASSERT_EQ(fakehost::writeHost(dir, devices), dir);
    }
    // Runs a shell command (no single quotes) with the fake host in place; standard error dropped.
    Result inHost(const std::string& command) {
        return runShell("unshare -m --propagation private sh -c 'mount --bind " + dir + "/bus/pci /sys/bus/pci && "
                        "mount --bind " + dir + "/devices /sys/devices && " + command + "' 2>/dev/null");
    }
    Result run(const std::string& args, const std::string& env = "") {
        return inHost("exec " + env + GPUTUNER_PATH " " + args);
    }
    long config(const std::string& busId, uint32_t offset, int width) {
        return fakehost::readConfig(fakehost::configPath(dir, devices, busId), offset, width);
    }
    long devCtl(const std::string& busId) { return config(busId, fakehost::kExpCap + 8, 2); }

    std::string dir;
    std::vector<Device> devices;
};

}  // namespace tunertest
