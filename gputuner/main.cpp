// gputuner: lists the Quelvan GPUs, draws their PCIe topology, traces the usual causes of slow
// p2p, d2h and h2d transfers and changes ACS, device-control features, MPS, MRRS and the
// completion time-out disable bit.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "check.h"
#include "diagnosis.h"
#include "enum_device.h"
#include "host.h"
#include "json_output.h"
#include "profile.h"
#include "settings.h"
#include "topology.h"

namespace {

constexpr const char* kVersion = "2.0.0";

int printDocument(const TunerReport& r, int exit) {
    report::printJson(tunerDocument(r, kVersion));
    return exit;
}

int failDocument(const std::string& error) {
    TunerReport r;
    r.error = error;
    return printDocument(r, -1);
}

// The --json run: the steps of the text run in the same order, with the human text sent to
// standard error and one document on standard output. Exit statuses are those of the text run.
int runJson(const std::string& topo, bool list, bool trace, bool disableAcs, bool enableAcs, bool enableExtend,
            const std::string& timeoutDis, const std::string& mps, const std::string& mrrs) {
    TunerReport r;
    int exit = 0;
    {
        report::StdoutToStderr toStderr;
        EnumDevice device;
        device.initPciDevice();
        device.getAllBoards();
        const BusIdSet gpus = device.getAllBusIdSet();
        std::vector<std::pair<std::string, std::string>> products;
        for (const auto& gpu : gpus) products.emplace_back(gpu, device.getProductName(gpu));
        const bool anySetting =
            disableAcs || enableAcs || enableExtend || !timeoutDis.empty() || !mps.empty() || !mrrs.empty();
        r.mode = anySetting && !list ? "settings" : "list";
        bool stateRead = false;
        if (!topo.empty()) {
            r.mode = "topology";
            r.topologyLevel = topo;
            if (topo != "v" && topo != "vv" && topo != "vvv") {
                r.error = "invalid topology level \"" + topo + "\"";
                exit = -1;
            }
        } else {
            // The trace looks at the host before any setting changes it, as in the text run.
            if (trace) {
                r.mode = "trace";
                r.state = readHostState(gpus, products);
                r.findings = evaluate(r.state, traceExpectations());
                stateRead = !anySetting;
            }
            const auto record = [&](const char* option, const std::string& value,
                                    const std::optional<std::string>& result) {
                r.settings.push_back({option, value, result});
            };
            if (disableAcs) record("--disable-acs", "", checkSwitchACS(gpus, true, true));
            if (enableAcs) record("--enable-acs", "", checkSwitchACS(gpus, true, false));
            if (enableExtend) record("--enable-extend", "", checkPCIeExtend(gpus, true));
            if (!timeoutDis.empty()) record("--set-timeoutDis", timeoutDis, setTimeoutDisable(gpus, true, timeoutDis));
            if (!mps.empty()) record("--set-mps", mps, setMaxPayloadSize(gpus, mps));
            if (!mrrs.empty()) record("--set-mrrs", mrrs, setMaxReadRequestSize(gpus, mrrs));
        }
        // Read after the settings, so the document shows what they left behind.
        if (!stateRead) r.state = readHostState(gpus, products);
    }
    r.status = r.error ? report::Status::Unknown : overallStatus(r.state, r.findings);
    return printDocument(r, exit);
}

}  // namespace

int main(int argc, char** argv) {
    std::string topo, mps, mrrs, timeoutDis, saveProfile, applyProfile;
    bool list = false, trace = false, enableAcs = false, disableAcs = false, enableExtend = false, version = false;

    CLI::App app{"A tool that can diagnose and resolve issues of p2p, d2h and h2d blockage or slowdown.", ""};
    app.add_option("--topo", topo,
                   "PCIe topology.(E.g., v: short info; vv: somewhat detailed info; vvv: more detailed info.)");
    app.add_flag("-l,--list", list, "List GPU.");
    app.add_flag("--trace", trace, "Identify the factors causing p2p, d2h and h2d blockage or slowdown.");
    app.add_flag("--enable-acs", enableAcs, "Enable ACS.");
    app.add_flag("--disable-acs", disableAcs, "Disable ACS.");
    app.add_flag("--enable-extend", enableExtend, "Enable the PCIe extend capability.");
    app.add_option("--set-mps", mps, "Set GPU MaxPayload.(E.g., 0: 128B; 1: 256B.)");
    app.add_option("--set-mrrs", mrrs,
                   "Set GPU MaxReadReq.(E.g., 0: 128B; 1: 256B; 2: 512B; 3: 1024B; 4: 2048B; 5: 4096B.)");
    app.add_option("--set-timeoutDis", timeoutDis,
                   "Set GPU Completion Timeout Disable.(E.g., 0: disable; 1: enable.)");
    app.add_flag("-v, --version", version, "Print version information.");
    app.set_help_flag("-h, --help", "Print this help message and exit.");
    bool json = false, check = false;
    std::string checkConfig, exitCodes = "plain";
    app.add_flag("--json", json, "Print the result as one JSON document on standard output.");
    auto* checkFlag = app.add_flag("--check", check,
                 "Check the host against the expected state: one line, exit 0 healthy, 1 unhealthy, 2 unknown.");
    // An unreadable file is the check's own "cannot tell" (status 2), not a parse error.
    app.add_option("--check-config", checkConfig, "Expected state for --check (a file of key = value lines).");
    app.add_option("--exit-codes", exitCodes, "Exit codes of --check: plain (0/1/2) or nagios (0/1/2/3).")
        ->check(CLI::IsMember({"plain", "nagios"}));
    app.add_option("--save-profile", saveProfile,
                   "Save the PCIe settings of the GPUs and their ports (ACS, extend, MPS, MRRS, completion timeout) to FILE.")
        ->option_text("FILE");
    app.add_option("--apply-profile", applyProfile,
                   "Apply a saved PCIe profile, read every value back and report what changed.")
        ->option_text("FILE");
    std::string promFile;
    app.add_option("--prom-file", promFile,
                   "With --check: also write Prometheus metrics to FILE (for node_exporter's textfile collector).")
        ->option_text("FILE")
        ->needs(checkFlag);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    if (check) {
        CheckOptions options{json, checkConfig, report::ExitCodes::Plain, kVersion, promFile};
        report::parseExitCodes(exitCodes, &options.exitCodes);
        return runCheck(options);
    }
    if (json && !host::isRoot()) return failDocument("requires root privileges");
    // The profile options answer with their own exit codes (0 done, 1 not applied, 2 unusable).
    if (!saveProfile.empty()) return saveProfileCommand(saveProfile);
    if (!applyProfile.empty()) return applyProfileCommand(applyProfile);
    if (!host::isRoot()) {
        std::printf("Requires root privileges.\n");
        return -1;
    }
    if (argc == 1) {
        std::cout << app.help() << std::flush;
        return -1;
    }
    if (version && json) {
        TunerReport r;
        r.mode = "version";
        r.status = report::Status::Ok;
        return printDocument(r, 0);
    }
    if (version) {
        std::printf("Quelvan Ostrel GPU Tuner Tool %s\n", kVersion);
        return 0;
    }
    // Without setpci no GPU can be tested or enabled; say so once instead of once per command.
    if (json && !host::programOnPath("setpci")) return failDocument("setpci not found, install pciutils");
    if (!host::programOnPath("setpci")) {
        printRedError("setpci not found. Please install pciutils.\n");
        return -1;
    }

    if (json) return runJson(topo, list, trace, disableAcs, enableAcs, enableExtend, timeoutDis, mps, mrrs);

    auto device = std::make_unique<EnumDevice>();
    device->initPciDevice();
    device->getAllBoards();
    const BusIdSet gpus = device->getAllBusIdSet();

    if (list) listGPUInfo(gpus, device.get());
    if (!topo.empty()) {
        const bool shown = showTopo(gpus, topo);
        std::fflush(stdout);
        return shown ? 0 : -1;
    }
    if (trace) {
        checkIommuState(gpus);
        checkPex89State(gpus);
        checkSwitchACS(gpus, false, false);
        checkPCIeExtend(gpus, false);
        checkPCIeLink(gpus);
        setTimeoutDisable(gpus, false, timeoutDis);
    }
    if (disableAcs) checkSwitchACS(gpus, true, true);
    if (enableAcs) checkSwitchACS(gpus, true, false);
    if (enableExtend) checkPCIeExtend(gpus, true);
    if (!timeoutDis.empty()) setTimeoutDisable(gpus, true, timeoutDis);
    if (!mps.empty()) setMaxPayloadSize(gpus, mps);
    if (!mrrs.empty()) setMaxReadRequestSize(gpus, mrrs);
    return 0;
}
