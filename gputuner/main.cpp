// gputuner: lists the Quelvan GPUs, draws their PCIe topology, traces the usual causes of slow
// p2p, d2h and h2d transfers and changes ACS, device-control features, MPS, MRRS and the
// completion time-out disable bit.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "diagnosis.h"
#include "enum_device.h"
#include "host.h"
#include "profile.h"
#include "settings.h"
#include "topology.h"

namespace {
constexpr const char* kVersion = "2.0.0";
}

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
    app.add_option("--save-profile", saveProfile,
                   "Save the PCIe settings of the GPUs and their ports (ACS, extend, MPS, MRRS, completion timeout) to FILE.")
        ->option_text("FILE");
    app.add_option("--apply-profile", applyProfile,
                   "Apply a saved PCIe profile, read every value back and report what changed.")
        ->option_text("FILE");
    app.set_help_flag("-h, --help", "Print this help message and exit.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
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
    if (version) {
        std::printf("Quelvan Ostrel GPU Tuner Tool %s\n", kVersion);
        return 0;
    }
    // Without setpci no GPU can be tested or enabled; say so once instead of once per command.
    if (!host::programOnPath("setpci")) {
        printRedError("setpci not found. Please install pciutils.\n");
        return -1;
    }

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
