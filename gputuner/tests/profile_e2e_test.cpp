// --save-profile and --apply-profile over fake PCI hosts with the real setpci.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fakehost.h"
#include "tuner_host.h"

namespace {

using namespace tunertest;
using fakehost::kAcsCap;
using fakehost::kExpCap;

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every config file of the host, to prove that nothing was written.
std::string allConfigBytes(const std::string& dir) {
    std::string bytes;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir + "/devices"))
        if (entry.path().filename() == "config") bytes += entry.path().string() + readText(entry.path().string());
    return bytes;
}

class Profile : public TunerHost {
protected:
    std::string profile() { return dir + "/../" + std::filesystem::path(dir).filename().string() + ".profile"; }
    void TearDown() override {
        if (!dir.empty()) std::filesystem::remove(profile());
        TunerHost::TearDown();
    }
};

TEST_F(Profile, ApplyRestoresChangedSettingsAndReadsThemBack) {
    write(fakehost::demoHost());
    const Result saved = run("--save-profile " + profile());
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(saved.out, "PCIe profile of 20 devices (8 GPUs) saved to " + profile() + "\n");
    const std::string text = readText(profile());
    EXPECT_NE(text.find("\n0000:3a:00.0/00.0/08.0/00.0 gpu mps=128 mrrs=512 relaxed_ordering=on ext_tag=off "
                        "no_snoop=on cto_disable=off  # 0000:3e:00.0\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n0000:5d:00.0/00.0/18.0 down mps=256 mrrs=512 relaxed_ordering=on ext_tag=on no_snoop=on "
                        "acs_ctl=0x1d  # 0000:5f:18.0\n"),
              std::string::npos)
        << text;

    // Someone changes three settings by hand (as a reboot would reset them).
    const long gpuControl = devCtl("0000:3e:00.0");
    ASSERT_EQ(inHost("setpci -s 0000:3e:00.0 CAP_EXP+8.w=0x0930 && setpci -s 0000:5f:18.0 ecap_acs+6.b=0 && "
                     "setpci -s 0000:60:00.0 CAP_EXP+0x28.w=0")
                  .status,
              0);
    ASSERT_NE(devCtl("0000:3e:00.0"), gpuControl);

    const Result applied = run("--apply-profile " + profile());
    EXPECT_EQ(applied.status, 0);
    EXPECT_EQ(applied.out,
              "[0000:3e:00.0] 0000:3a:00.0/00.0/08.0/00.0 MaxPayload: 256 -> 128\n"
              "[0000:3e:00.0] 0000:3a:00.0/00.0/08.0/00.0 MaxReadReq: 128 -> 512\n"
              "[0000:3e:00.0] 0000:3a:00.0/00.0/08.0/00.0 ExtTag: on -> off\n"
              "[0000:60:00.0] 0000:5d:00.0/00.0/00.0/00.0 Completion Timeout Disable: off -> on\n"
              "[0000:5f:18.0] 0000:5d:00.0/00.0/18.0 ACS control: 0x00 -> 0x1d\n"
              "PCIe profile: 5 value(s) changed, all read back.\n");
    EXPECT_EQ(devCtl("0000:3e:00.0"), gpuControl);
    EXPECT_EQ(config("0000:5f:18.0", kAcsCap + 6, 1), 0x1d);
    EXPECT_EQ(config("0000:60:00.0", kExpCap + 0x28, 2), 0x10);

    const std::string before = allConfigBytes(dir);
    const Result again = run("--apply-profile " + profile());
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "PCIe profile: the host matches, nothing written.\n");
    EXPECT_EQ(allConfigBytes(dir), before);
}

TEST_F(Profile, UnusableProfilesAreRefusedWithoutWriting) {
    std::vector<fakehost::Device> other = fakehost::demoHost();
    other.pop_back();  // one GPU fewer
    write(other);
    ASSERT_EQ(run("--save-profile " + profile()).status, 0);
    const std::string smaller = readText(profile());

    struct Case {
        const char* name;
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"other topology", smaller,
         "gputuner: the profile was saved on a different PCIe topology: 0000:5d:00.0/00.0/18.0 "
         "(0000:5f:18.0) is not in the profile; nothing written\n"},
        {"role differs", "quelvan-pcie-profile 1\n0000:3a:00.0 gpu\n",
         "gputuner: the profile was saved on a different PCIe topology: 0000:3a:00.0 is a root here, not a gpu; "
         "nothing written\n"},
        {"not a profile", "hello\n", "gputuner: " + profile() + ": line 1: not a gputuner PCIe profile"},
        {"bad value", "quelvan-pcie-profile 1\n0000:3a:00.0 root mps=300\n",
         "gputuner: " + profile() + ": line 2: cannot read \"mps=300\"\n"},
    };
    write(fakehost::demoHost());
    const std::string before = allConfigBytes(dir);
    for (const Case& c : cases) {
        std::ofstream(profile()) << c.text;
        const Result r = inHost("exec " GPUTUNER_PATH " --apply-profile " + profile() + " 2>&1");
        EXPECT_EQ(r.status, 2) << c.name;
        EXPECT_EQ(r.out.rfind(c.error, 0), 0u) << c.name << ": " << r.out;
    }
    EXPECT_EQ(allConfigBytes(dir), before);
    EXPECT_EQ(runShell(GPUTUNER_PATH " --apply-profile /nonexistent 2>&1").out,
              "gputuner: cannot read /nonexistent\n");
}

}  // namespace
