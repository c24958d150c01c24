// End-to-end runs of the built gputuner over fake PCI hosts, in a private mount namespace with
// the fake trees bound over /sys/bus/pci and /sys/devices, so the real setpci and lspci read
// and write the fake config files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tuner_host.h"

namespace fs = std::filesystem;
using fakehost::Device;
using fakehost::Role;

namespace {

using namespace tunertest;

// GPUs on their own root ports, with every way enumeration can reject or degrade one.
std::vector<Device> listHost() {
    std::vector<Device> h;
    for (int i = 1; i <= 7; ++i) h.push_back(fakehost::rootPort("0000:00:0" + std::to_string(i) + ".0"));
    Device a = fakehost::gpu("0000:01:00.0", "0000:00:01.0", 0x0001);
    a.registers[0x80a0] = 4;  // sub-model 4
    a.cpuList = "0-23,48-71";
    Device b = fakehost::gpu("0000:02:00.0", "0000:00:02.0", 0x0210);  // model flag 0
    b.numaNode = "";
    Device offline = fakehost::gpu("0000:03:00.0", "0000:00:03.0", 0x0001);
    offline.offline = true;
    Device noBar = fakehost::gpu("0000:04:00.0", "0000:00:04.0", 0x0001);
    noBar.resource2 = false;
    Device audio = fakehost::gpu("0000:04:00.1", "0000:00:04.0", 0x0212);
    Device unmappable = fakehost::gpu("0000:05:00.0", "0000:00:05.0", 0x0103);
    unmappable.resource2Size = 0;
    Device other = fakehost::gpu("0000:06:00.0", "0000:00:06.0", 0x0001, 0x10de);
    Device small = fakehost::gpu("0000:07:00.0", "0000:00:07.0", 0x0003);
    small.resource2Size = 0x100;  // registers lie beyond the window
    small.numaNode = "1";
    for (Device* d : {&a, &b, &offline, &noBar, &audio, &unmappable, &other, &small}) h.push_back(*d);
    return h;
}

TEST_F(TunerHost, ListNamesLiveGpusAndEnablesThem) {
    write(listHost());
    const Result r = run("-l");
    EXPECT_EQ(r.status, 0);
    const std::string rule(70, '-');
    EXPECT_EQ(r.out, kRed + "[0000:03:00.0]: GPU OFFLINE.\n\n" + kReset +
                         kRed + "[0000:04:00.0]: Insufficient or unassigned BAR address.\n" + kReset +
                         "Please load vtn_dbg.ko first and try again.\n" +
                         rule + "\nNUM | DEVICE          | PRODUCT     | NUMA_Affinity   | CPU_Affinity\n" + rule +
                         "\n"
                         " 0  | 0000:01:00.0    | AQ-K10      | 0               | 0-23,48-71\n"
                         " 1  | 0000:02:00.0    | PW-K20OAM   | x               | 0-7\n"
                         " 2  | 0000:05:00.0    | HS-K10X     | 0               | 0-7\n"
                         " 3  | 0000:07:00.0    | LN-K10      | 1               | 0-7\n" +
                         rule + "\n");
    // Live GPUs get memory decoding and bus mastering and D0; rejected functions are not touched.
    for (const char* gpu : {"0000:01:00.0", "0000:02:00.0", "0000:05:00.0", "0000:07:00.0"}) {
        EXPECT_EQ(config(gpu, 0x04, 2), 0x0006) << gpu;
        EXPECT_EQ(config(gpu, fakehost::kPmCap + 4, 2), 0x0008) << gpu;
    }
    EXPECT_EQ(config("0000:03:00.0", 0x04, 2), 0xffff);
    for (const char* untouched : {"0000:04:00.0", "0000:04:00.1", "0000:06:00.0"})
        EXPECT_EQ(config(untouched, 0x04, 2), 0x0000) << untouched;
}

TEST_F(TunerHost, ListWithoutGpusShowsTheFrame) {
    write({fakehost::rootPort("0000:00:01.0")});
    const std::string rule(70, '-');
    EXPECT_EQ(run("--list").out,
              rule + "\nNUM | DEVICE          | PRODUCT     | NUMA_Affinity   | CPU_Affinity\n" + rule + "\n" + rule + "\n");
}

// Two GPUs behind one switch (one more downstream port leads nowhere), one GPU on a root port
// without NUMA node, one behind a PCIe-to-PCI bridge.
std::vector<Device> topoHost() {
    std::vector<Device> h{fakehost::rootPort("0000:3a:00.0", "0"),
                          fakehost::switchPort("0000:3b:00.0", "0000:3a:00.0", Role::UpstreamPort),
                          fakehost::switchPort("0000:3c:08.0", "0000:3b:00.0", Role::DownstreamPort),
                          fakehost::switchPort("0000:3c:10.0", "0000:3b:00.0", Role::DownstreamPort),
                          fakehost::switchPort("0000:3c:18.0", "0000:3b:00.0", Role::DownstreamPort),
                          fakehost::gpu("0000:3d:00.0", "0000:3c:08.0", 0x0001),
                          fakehost::gpu("0000:3e:00.0", "0000:3c:10.0", 0x0001),
                          fakehost::rootPort("0000:80:01.0", "-1"),
                          fakehost::gpu("0000:81:00.0", "0000:80:01.0", 0x0001),
                          fakehost::rootPort("0000:90:01.0", "1"),
                          fakehost::switchPort("0000:91:00.0", "0000:90:01.0", Role::PciBridge),
                          fakehost::gpu("0000:92:00.0", "0000:91:00.0", 0x0001)};
    return h;
}

const std::string kLegend =
    "Legend:\n"
    "  NUMA      : Non-Uniform Memory Access node.\n"
    "  Root Port : Located in the Root Complex and serves as the starting point of the bus topology.\n"
    "  Switch    : Contains one upstream port and one downstream port. The displayed busID corresponds to the "
    "upstream port.\n"
    "  Up Port   : PCIe switch upstream port.\n"
    "  Down Port : PCIe switch downstream port.\n"
    "  GPU       : ZU GPU.\n"
    "\n";

TEST_F(TunerHost, TopologyAtEachLevel) {
    write(topoHost());
    struct Case {
        const char* level;
        std::string view;
    };
    const Case cases[] = {
        {"v",
         "[NUMA 0] -- [Root Port] -- [SWITCH] +- [GPU]\n"
         "                                    |       \n"
         "                                    \\- [GPU]\n"
         "                                            \n"
         "[NUMA X] -- [Root Port] -- [GPU]\n"
         "                                \n"
         "[NUMA 1] -- [Root Port] --  -- [ERR][GPU]\n"
         "                                         \n"},
        {"vv",
         "[NUMA 0] -- [Root Port] 3a:00.0 -- [SWITCH] 3b:00.0 +- [GPU] 3d:00.0\n"
         "                                                    |               \n"
         "                                                    \\- [GPU] 3e:00.0\n"
         "                                                                    \n"
         "[NUMA X] -- [Root Port] 80:01.0 -- [GPU] 81:00.0\n"
         "                                                \n"
         "[NUMA 1] -- [Root Port] 90:01.0 --  -- [ERR][GPU] 92:00.0\n"
         "                                                         \n"},
        {"vvv",
         "[NUMA 0] -- [Root Port] 3a:00.0 -- [Up Port] 3b:00.0 +- [Down Port] 3c:08.0 -- [GPU] 3d:00.0\n"
         "                                                     |                                      \n"
         "                                                     \\- [Down Port] 3c:10.0 -- [GPU] 3e:00.0\n"
         "                                                                                            \n"
         "[NUMA X] -- [Root Port] 80:01.0 -- [GPU] 81:00.0\n"
         "                                                \n"
         "[NUMA 1] -- [Root Port] 90:01.0 -- [ERR] -- [GPU] 92:00.0\n"
         "                                                         \n"},
    };
    for (const auto& c : cases) {
        const Result r = run(std::string("--topo ") + c.level);
        EXPECT_EQ(r.status, 0) << c.level;
        EXPECT_EQ(r.out, c.view + kLegend) << c.level;
    }
}

TEST_F(TunerHost, InvalidTopologyLevelEndsWith255) {
    write(topoHost());
    for (const char* level : {"x", "vvvv", "V"}) {
        const Result r = run(std::string("--topo ") + level);
        EXPECT_EQ(r.status, 255) << level;
        EXPECT_EQ(r.out, "请指定正确的拓扑等级...\n") << level;
    }
    // The list still comes first; the topology ends the run before the trace.
    const Result listed = run("-l --topo x");
    EXPECT_EQ(listed.status, 255);
    EXPECT_NE(listed.out.find("0000:3d:00.0"), std::string::npos);
    const Result all = run("-l --topo vv --trace");
    EXPECT_EQ(all.status, 0);
    EXPECT_NE(all.out.find("Legend:"), std::string::npos);
    EXPECT_EQ(all.out.find("[IOMMU State]"), std::string::npos);
}

TEST_F(TunerHost, EntryChecksRootAndArguments) {
    write(topoHost());
    const Result help = runShell(GPUTUNER_PATH " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("A tool that can diagnose and resolve issues of p2p, d2h and h2d blockage or slowdown.\n", 0),
              0u);
    const Result bare = runShell(GPUTUNER_PATH);
    EXPECT_EQ(bare.status, 255);
    EXPECT_EQ(bare.out, help.out);
    const Result version = run("-v");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Quelvan Ostrel GPU Tuner Tool 2.0.0\n");
    EXPECT_EQ(config("0000:3d:00.0", 0x04, 2), 0) << "--version enumerates nothing";
    EXPECT_EQ(runShell(GPUTUNER_PATH " --topo 2>/dev/null").status, 114) << "missing value is a parse error";
    if (std::system("command -v setpriv >/dev/null") == 0) {
        const Result user = runShell("setpriv --reuid=65534 --regid=65534 --clear-groups " GPUTUNER_PATH " -v");
        EXPECT_EQ(user.status, 255);
        EXPECT_EQ(user.out, "Requires root privileges.\n");
        EXPECT_EQ(runShell("setpriv --reuid=65534 --regid=65534 --clear-groups " GPUTUNER_PATH " -h").status, 0);
    }
}

TEST_F(TunerHost, MissingPciutilsIsToldOnce) {
    write(fakehost::demoHost());
    // No setpci at all: one line, nothing enumerated or written.
    const Result none = run("--trace", "env PATH=/nonexistent ");
    EXPECT_EQ(none.status, 255);
    EXPECT_EQ(none.out, kRed + "setpci not found. Please install pciutils.\n" + kReset);
    EXPECT_EQ(config("0000:3d:00.0", 0x04, 2), 0);
    // setpci but no lspci: the link check says so once and gives no verdict.
    const fs::path bin = fs::path(dir) / "onlysetpci";
    fs::create_directories(bin);
    fs::create_symlink(runShell("command -v setpci | tr -d '\\n'").out, bin / "setpci");
    const Result noLspci = run("--trace", "env PATH=" + bin.string() + " ");
    EXPECT_EQ(noLspci.status, 0);
    EXPECT_NE(noLspci.out.find("[PCIe Extend Capabilities]: Disable\n\n" + kRed +
                               "lspci not found, the PCIe links cannot be checked. Please install pciutils.\n" + kReset +
                               "[0000:3d:00.0 Completion"),
              std::string::npos)
        << noLspci.out;
}

// The README demo: IOMMU, PEX89 synthetic mode, ACS on, features off, one downgraded link.
TEST_F(TunerHost, TraceReportsAndChangesNothing) {
    write(fakehost::demoHost());
    std::map<std::string, std::string> before;
    for (const auto& d : devices) {
        std::ifstream in(fakehost::configPath(dir, devices, d.busId), std::ios::binary);
        before[d.busId] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    const Result r = run("--trace");
    EXPECT_EQ(r.status, 0);
    std::string acs, extend;
    for (const char* port : {"3c:00.0", "3c:08.0", "3c:10.0", "3c:18.0", "5f:00.0", "5f:08.0", "5f:10.0", "5f:18.0"})
        acs += std::string("[0000:") + port + " ACS]: ON \n";
    for (const char* gpu : {"3d", "3e", "3f", "40"})
        extend += std::string("[0000:") + gpu + ":00.0 ExtTag Control]:  disable.\n[0000:" + gpu +
                  ":00.0 MaxPayloadSize Control]:  128 bytes.\n";
    EXPECT_EQ(r.out, "[IOMMU State]: ON\n\n"
                     "[Broadcom Switch PEX89]: Synthetic Mode\n\n" +
                         acs + "[ACS State]: ON\n\n" + extend +
                         "[PCIe Extend Capabilities]: Disable\n\n"
                         "[0000:3e:00.0] LnkSta:\tSpeed 2.5GT/s (downgraded), Width x16\n"
                         "[PCIe Link Speed / Width]: Downgraded\n\n"
                         "[0000:3d:00.0 Completion Timeout Disable]: Disable\n"
                         "[0000:3e:00.0 Completion Timeout Disable]: Disable\n"
                         "[0000:3f:00.0 Completion Timeout Disable]: Disable\n"
                         "[0000:40:00.0 Completion Timeout Disable]: Disable\n"
                         "[Completion Timeout Disable]: Disable\n\n");
    for (const auto& d : devices) {
        if (d.role != Role::Endpoint) {
            std::ifstream in(fakehost::configPath(dir, devices, d.busId), std::ios::binary);
            EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == before[d.busId]) << d.busId;
        }
    }
}

TEST_F(TunerHost, TraceOfPlainHost) {
    // No IOMMU, no switch, all features on, links at full speed, time-outs disabled.
    std::vector<Device> h{fakehost::rootPort("0000:00:01.0"), fakehost::gpu("0000:01:00.0", "0000:00:01.0", 0x0001)};
    h[0].devCtl = h[1].devCtl = 0x2930;
    h[1].devCtl2 = 0x10;
    write(h);
    EXPECT_EQ(run("--trace").out,
              "[IOMMU State]: OFF\n\n[Switch State]: No PCIe Switch\n\n[PCIe Extend Capabilities]: Enable\n\n"
              "[PCIe Link Speed / Width]: Normal\n\n[Completion Timeout Disable]: Enable\n\n");
}

// One switch whose downstream ports cover the ACS cases: on, off, no ACS control offered,
// no ACS capability at all (setpci answers nothing).
std::vector<Device> acsHost() {
    std::vector<Device> h{fakehost::rootPort("0000:3a:00.0"),
                          fakehost::switchPort("0000:3b:00.0", "0000:3a:00.0", Role::UpstreamPort)};
    const char* downs[] = {"0000:3c:00.0", "0000:3c:08.0", "0000:3c:10.0", "0000:3c:18.0"};
    const char* gpus[] = {"0000:3d:00.0", "0000:3e:00.0", "0000:3f:00.0", "0000:40:00.0"};
    for (int i = 0; i < 4; ++i) {
        Device d = fakehost::switchPort(downs[i], "0000:3b:00.0", Role::DownstreamPort);
        d.acs = i < 3;
        d.acsCtl = i == 0 ? 0x1d : i == 2 ? 0x05 : 0x00;
        d.acsCap = i == 2 ? 0x00 : 0x1f;
        h.push_back(d);
        h.push_back(fakehost::gpu(gpus[i], downs[i], 0x0001));
    }
    h[0].devCtl = h[1].devCtl = 0x0000;
    return h;
}

TEST_F(TunerHost, AcsSettingsWriteTheControlByte) {
    const std::string noCap = "[0000:3c:10.0] ACS capabilities disable.\n";
    const std::string noAcs = "[0000:3c:18.0] Cannot read ecap_acs+4.b, skipped.\n";
    struct Case {
        const char* args;
        std::string out;
        long ctl0, ctl8, ctl10;
    };
    const Case cases[] = {
        {"--disable-acs", noCap + noAcs + "[ACS State]: OFF\n\n", 0x00, 0x00, 0x05},
        {"--enable-acs", noCap + noAcs + "[ACS State]: ON\n\n", 0x1d, 0x1d, 0x05},
        {"--enable-acs --disable-acs",
         noCap + noAcs + "[ACS State]: OFF\n\n" + noCap + noAcs + "[ACS State]: ON\n\n", 0x1d, 0x1d, 0x05},
    };
    for (const auto& c : cases) {
        write(acsHost());
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        const uint32_t ctl = fakehost::kAcsCap + 6;
        EXPECT_EQ(config("0000:3c:00.0", ctl, 1), c.ctl0) << c.args;
        EXPECT_EQ(config("0000:3c:08.0", ctl, 1), c.ctl8) << c.args;
        EXPECT_EQ(config("0000:3c:10.0", ctl, 1), c.ctl10) << c.args;
    }
    write(acsHost());
    const std::string trace = run("--trace").out;
    EXPECT_NE(trace.find("[0000:3c:00.0 ACS]: ON \n" + noCap + noAcs + "[ACS State]: ON\n\n"), std::string::npos)
        << trace;
}

TEST_F(TunerHost, EnableExtendSetsFeatureBitsOnTheWholePath) {
    write(acsHost());
    const Result r = run("--enable-extend");
    EXPECT_EQ(r.out, "[PCIe Extend Capabilities]: Enable\n\n");
    EXPECT_EQ(devCtl("0000:3a:00.0"), 0x0930);  // root port
    EXPECT_EQ(devCtl("0000:3b:00.0"), 0x0930);
    EXPECT_EQ(devCtl("0000:3c:08.0"), 0x2930);
    EXPECT_EQ(devCtl("0000:3d:00.0"), 0x2930);
    EXPECT_EQ(run("--trace").out.find("Control]:"), std::string::npos) << "no finding is left after the change";
}

TEST_F(TunerHost, DeviceControlSettings) {
    // Two GPUs with Device Control 2810 and 28b0, and one without a PCI Express capability,
    // whose reads fail: it is reported and never written.
    std::vector<Device> h{fakehost::rootPort("0000:00:01.0"), fakehost::gpu("0000:01:00.0", "0000:00:01.0", 0x0001),
                          fakehost::rootPort("0000:00:02.0"), fakehost::gpu("0000:02:00.0", "0000:00:02.0", 0x0001),
                          fakehost::rootPort("0000:00:03.0"), fakehost::gpu("0000:03:00.0", "0000:00:03.0", 0x0001)};
    h[3].devCtl = 0x28b0;
    h[1].devCtl2 = h[3].devCtl2 = 0x05;
    h[5].expressCap = false;
    const std::string skipped = "[0000:03:00.0] Cannot read CAP_EXP+8.w, skipped.\n";
    const std::string badMps = kRed + "--set-mps: Set GPU MaxPayload.(E.g., 0: 128B; 1: 256B.), Invalid value.\n" + kReset;
    const std::string badMrrs = kRed +
                                "--set-mrrs: Set GPU MaxReadReq.(E.g., 0: 128B; 1: 256B; 2: 512B; 3: 1024B; 4: "
                                "2048B; 5: 4096B.), Invalid value.\n" + kReset;
    const std::string badTimeout = kRed +
                                   "--set-timeoutDis: Set GPU Completion Timeout Disable.(E.g., 0: Disable; 1: "
                                   "Enable.), Invalid value.\n" + kReset;
    struct Case {
        const char* args;
        std::string out;
        long ctlA, ctlB, ctl2;
    };
    const Case cases[] = {
        {"--set-mps 1", skipped + "[MaxPayload Size]: 256B\n\n", 0x2830, 0x2830, 0x05},
        {"--set-mps 0", skipped + "[MaxPayload Size]: 128B\n\n", 0x2810, 0x2810, 0x05},
        {"--set-mps 7", badMps, 0x2810, 0x28b0, 0x05},
        {"--set-mps 01", badMps, 0x2810, 0x28b0, 0x05},
        {"--set-mps \"\"", "", 0x2810, 0x28b0, 0x05},  // empty value: as if the option were absent
        {"--set-mrrs 5", skipped + "[MaxReadReq Size]: 4096B\n\n", 0x5810, 0x58b0, 0x05},
        {"--set-mrrs 0", skipped + "[MaxReadReq Size]: 128B\n\n", 0x0810, 0x08b0, 0x05},
        {"--set-mrrs 6", badMrrs, 0x2810, 0x28b0, 0x05},
        {"--set-timeoutDis 1", "[Completion Timeout Disable]: Enable\n\n", 0x2810, 0x28b0, 0x10},
        {"--set-timeoutDis 0", "[Completion Timeout Disable]: Disable\n\n", 0x2810, 0x28b0, 0x00},
        {"--set-timeoutDis 2", badTimeout, 0x2810, 0x28b0, 0x05},
        {"--set-mrrs 2 --set-mps 1 --set-timeoutDis 1",
         "[Completion Timeout Disable]: Enable\n\n" + skipped + "[MaxPayload Size]: 256B\n\n" + skipped +
             "[MaxReadReq Size]: 512B\n\n",
         0x2830, 0x2830, 0x10},
    };
    for (const auto& c : cases) {
        write(h);
        const std::string before = [&] {
            std::ifstream in(fakehost::configPath(dir, devices, "0000:03:00.0"), std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }();
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        EXPECT_EQ(devCtl("0000:01:00.0"), c.ctlA) << c.args;
        EXPECT_EQ(devCtl("0000:02:00.0"), c.ctlB) << c.args;
        EXPECT_EQ(config("0000:01:00.0", fakehost::kExpCap + 0x28, 1), c.ctl2) << c.args;
        EXPECT_EQ(config("0000:02:00.0", fakehost::kExpCap + 0x28, 1), c.ctl2) << c.args;
        std::ifstream in(fakehost::configPath(dir, devices, "0000:03:00.0"), std::ios::binary);
        std::string after(std::istreambuf_iterator<char>(in), {});
        EXPECT_TRUE(after.substr(0x48) == before.substr(0x48)) << c.args << ": the unreadable GPU was written";
    }
}

}  // namespace
