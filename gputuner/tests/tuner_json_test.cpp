// gputuner --json and --check end to end over fake PCI hosts: golden documents validated
// against docs/schema/gputuner.v1.schema.json, the check table with its exit codes and lines,
// and no byte of PCI configuration written by a check.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "json_check.h"
#include "tuner_host.h"

namespace {

using namespace tunertest;
using fakehost::Role;
using jsoncheck::jq;
using jsoncheck::schemaProblem;

const std::string kSchema = "gputuner.v1.schema.json";

// One switch, two GPUs, everything as a tuned host has it: links at capability, ACS off,
// device-control features on, completion time-outs disabled, no IOMMU.
std::vector<Device> healthyHost() {
    std::vector<Device> h{fakehost::rootPort("0000:3a:00.0"),
                          fakehost::switchPort("0000:3b:00.0", "0000:3a:00.0", Role::UpstreamPort)};
    const char* downs[] = {"0000:3c:00.0", "0000:3c:08.0"};
    const char* gpus[] = {"0000:3d:00.0", "0000:3e:00.0"};
    for (int i = 0; i < 2; ++i) {
        Device d = fakehost::switchPort(downs[i], "0000:3b:00.0", Role::DownstreamPort);
        d.acs = true;
        h.push_back(d);
        Device g = fakehost::gpu(gpus[i], downs[i], 0x0001);
        g.devCtl2 = 0x10;
        h.push_back(g);
    }
    for (Device& d : h) d.devCtl = 0x2930;
    return h;
}

std::vector<Device> noGpuHost() { return {fakehost::rootPort("0000:00:01.0")}; }

// The line as jq -c prints a JSON string.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class TunerJson : public TunerHost {
protected:
    // Every config file of the host, to show that a run wrote none of them.
    std::map<std::string, std::string> configs() {
        std::map<std::string, std::string> bytes;
        for (const auto& d : devices) bytes[d.busId] = readFile(fakehost::configPath(dir, devices, d.busId));
        return bytes;
    }
    // The document without the host name, keys sorted, for comparing with a golden file.
    std::string normalized(const std::string& document) { return jq("del(.host)", document); }
};

TEST_F(TunerJson, GoldenDocuments) {
    struct Case {
        const char* name;
        std::vector<Device> (*host)();
        const char* args;
    };
    const Case cases[] = {
        {"demo_list", fakehost::demoHost, "-l --json"},
        {"demo_topo", fakehost::demoHost, "--topo vv --json"},
        {"demo_trace", fakehost::demoHost, "--trace --json"},
        {"healthy_trace", healthyHost, "--trace --json"},
        {"nogpu_trace", noGpuHost, "--trace --json"},
    };
    for (const auto& c : cases) {
        write(c.host());
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(schemaProblem(kSchema, r.out), "") << c.name << "\n" << r.out;
        const std::string goldenPath = std::string(GOLDEN_DIR "/") + c.name + ".json";
        // GOLDEN_UPDATE=1 rewrites the files after a deliberate change of the documents.
        if (std::getenv("GOLDEN_UPDATE")) std::ofstream(goldenPath) << r.out;
        const std::string golden = readFile(goldenPath);
        ASSERT_FALSE(golden.empty()) << c.name;
        EXPECT_EQ(normalized(r.out), normalized(golden)) << c.name << "\n" << r.out;
    }
}

// The values automation keys on, read with jq from the live documents.
TEST_F(TunerJson, DocumentValues) {
    write(fakehost::demoHost());
    const std::string trace = run("--trace --json").out;
    EXPECT_EQ(jq("[.status, .gpu_count, .iommu, .pex89_mode]", trace), R"(["critical",8,true,"synthetic"])");
    EXPECT_EQ(jq(R"(.gpus[] | select(.bus_id=="0000:3e:00.0") | [.link.speed_gts, .link.max_speed_gts, .link.at_capability])",
                 trace),
              "[2.5,16,false]");
    EXPECT_EQ(jq(R"([.findings[] | select(.check=="link") | .device])", trace), R"(["0000:3e:00.0"])");
    EXPECT_EQ(jq(R"([.findings[] | select(.check=="acs")] | length)", trace), "8");
    EXPECT_EQ(jq(R"(.gpus[0].path | map(.role))", trace), R"(["downstream_port","upstream_port","root_port"])");
    EXPECT_EQ(jq("[.gpus[].product] | unique", run("-l --json").out),
              R"(["AQ-K10","AQ-K15","LNC-K10-1","PW-K20"])");

    write(noGpuHost());
    EXPECT_EQ(jq("[.status, .gpu_count, .gpus, .findings]", run("--trace --json").out), R"(["unknown",0,[],[]])");

    // Settings: what was asked, and the state read back after it.
    write(healthyHost());
    const Result set = run("--set-mps 0 --set-mrrs 9 --json");
    EXPECT_EQ(set.status, 0);
    EXPECT_EQ(schemaProblem(kSchema, set.out), "") << set.out;
    EXPECT_EQ(jq("[.settings[] | [.option, .valid, .result]]", set.out),
              R"([["--set-mps",true,"128B"],["--set-mrrs",false,null]])");
    EXPECT_EQ(jq("[.gpus[].mps_bytes]", set.out), "[128,128]");

    // An invalid topology level keeps its status 255 and says why in the document.
    const Result bad = run("--topo x --json");
    EXPECT_EQ(bad.status, 255);
    EXPECT_EQ(jq("[.status, .error]", bad.out), R"(["unknown","invalid topology level \"x\""])");
}

TEST_F(TunerJson, CheckTable) {
    const auto downgraded = [] {
        auto h = healthyHost();
        h[5].linkSpeed = 1;  // 0000:3e:00.0 at 2.5GT/s
        return h;
    };
    const auto acsOn = [] {
        auto h = healthyHost();
        h[2].acsCtl = 0x1d;  // 0000:3c:00.0
        return h;
    };
    struct Case {
        std::vector<Device> host;
        std::string expect, args, env;
        int status;
        std::string line;
    };
    const Case cases[] = {
        {healthyHost(), "", "", "", 0, "OK: 2 GPUs, links at capability"},
        {healthyHost(), "gpus = 2\nmps_min = 256\nmrrs_min = 512\niommu = off\ncompletion_timeout_disable = on\n", "",
         "", 0, "OK: 2 GPUs, links at capability"},
        {downgraded(), "", "", "", 1, "CRITICAL: 0000:3e:00.0 link 2.5GT/s x16, expected 16GT/s x16"},
        {downgraded(), "", "--exit-codes nagios", "", 2, "CRITICAL: 0000:3e:00.0 link 2.5GT/s x16, expected 16GT/s x16"},
        {downgraded(), "link_at_capability = no\n", "", "", 0, "OK: 2 GPUs"},
        {acsOn(), "", "", "", 1, "CRITICAL: 0000:3c:00.0 acs on, expected off"},
        {acsOn(), "acs = any\n", "", "", 0, "OK: 2 GPUs, links at capability"},
        {healthyHost(), "gpus = 3\n", "", "", 1, "CRITICAL: gpu_count 2, expected 3"},
        {healthyHost(), "mrrs_min = 1024\n", "--exit-codes nagios", "", 1,
         "WARNING: 0000:3b:00.0 mrrs 512, expected >=1024 (+4 more)"},
        {noGpuHost(), "", "", "", 2, "UNKNOWN: no Quelvan GPU found"},
        {noGpuHost(), "", "--exit-codes nagios", "", 3, "UNKNOWN: no Quelvan GPU found"},
        {healthyHost(), "", "", "env PATH=/nonexistent ", 2, "UNKNOWN: setpci not found, install pciutils"},
        {healthyHost(), "bogus = 1\n", "", "", 2, "UNKNOWN: EXPECT line 1: unknown key \"bogus\""},
        {healthyHost(), "", "--check-config /nonexistent/expect.conf", "", 2,
         "UNKNOWN: cannot read /nonexistent/expect.conf"},
        {fakehost::demoHost(), "", "", "", 1, "CRITICAL: 0000:3c:00.0 acs on, expected off (+8 more)"},
    };
    for (const auto& c : cases) {
        write(c.host);
        std::string args = "--check " + c.args;
        const std::string expectFile = dir + "/expect.conf";
        if (!c.expect.empty()) {
            std::ofstream(expectFile) << c.expect;
            args += " --check-config " + expectFile;
        }
        std::string line = c.line;
        if (const size_t at = line.find("EXPECT"); at != std::string::npos) line.replace(at, 6, expectFile);
        const auto before = configs();
        const Result r = run(args, c.env);
        EXPECT_EQ(r.status, c.status) << args;
        EXPECT_EQ(r.out, line.substr(0, 80) + "\n") << args;
        EXPECT_LE(r.out.size(), 81u) << args;
        EXPECT_TRUE(configs() == before) << args << ": a check wrote PCI configuration";
        // The same verdict as a document, with the same exit code.
        const Result doc = run(args + " --json", c.env);
        EXPECT_EQ(doc.status, c.status) << args;
        EXPECT_EQ(schemaProblem(kSchema, doc.out), "") << args << "\n" << doc.out;
        EXPECT_EQ(jq(".check_line", doc.out), quoted(line.substr(0, 80))) << args;
    }
}

TEST_F(TunerJson, CheckCannotTell) {
    write(healthyHost());
    // Not root: the check cannot read PCI configuration.
    if (std::system("command -v setpriv >/dev/null") == 0) {
        const Result user = runShell("setpriv --reuid=65534 --regid=65534 --clear-groups " GPUTUNER_PATH " --check");
        EXPECT_EQ(user.status, 2);
        EXPECT_EQ(user.out, "UNKNOWN: requires root privileges\n");
    }
    // setpci that never answers: the watchdog ends the check as unknown, in time.
    const fs::path bin = fs::path(dir) / "hungbin";
    fs::create_directories(bin);
    std::ofstream(bin / "setpci") << "#!/bin/sh\nexec sleep 30\n";
    fs::permissions(bin / "setpci", fs::perms::owner_all);
    std::ofstream(dir + "/expect.conf") << "timeout = 1\n";
    const Result hung = run("--check --check-config " + dir + "/expect.conf --exit-codes nagios",
                            "env PATH=" + bin.string() + ":/usr/bin:/bin ");
    EXPECT_EQ(hung.status, 3);
    EXPECT_EQ(hung.out, "UNKNOWN: check timed out after 1 s\n");
}

}  // namespace
