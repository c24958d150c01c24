#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host.h"
#include "topology.h"

namespace fs = std::filesystem;

namespace {

TEST(PrintBlankLine, KeepsOnlyTheTreeBars) {
    EXPECT_EQ(printBlankLine("[NUMA 0] -- [Root Port] -- [SWITCH] +- [GPU]"),
              "                                    |       ");
    EXPECT_EQ(printBlankLine(" |   \\- [GPU]"), " |           ");
    EXPECT_EQ(printBlankLine(""), "");
}

// Connectors depend only on the directory of the switch's upstream port and the path union.
TEST(DownstreamConnector, FollowsSiblingsLeadingToGpus) {
    const fs::path up = fs::path(testing::TempDir()) / "gputuner_connector" / "0000:3b:00.0";
    fs::remove_all(up.parent_path());
    for (const char* port : {"0000:3c:00.0", "0000:3c:08.0", "0000:3c:10.0", "power"}) fs::create_directories(up / port);
    std::ofstream(up / "0000:3c:18.0") << "a file, not a port\n";

    const std::string a = (up / "0000:3c:00.0").string(), b = (up / "0000:3c:08.0").string();
    const BusIdSet both{"0000:3c:00.0", "0000:3c:08.0", "0000:3c:18.0", "0000:3d:00.0"};
    const BusIdSet onlyB{"0000:3c:08.0"};
    struct Case {
        const std::string& path;
        const BusIdSet& all;
        bool shown;
        const char* connector;
    };
    const Case cases[] = {
        {a, both, false, " +- "},  {a, both, true, " |  "},   {b, both, false, " \\- "},
        {b, both, true, "    "},   {b, onlyB, false, " -- "}, {b, onlyB, true, "    "},
        {b, BusIdSet{}, false, " Err "}, {b, BusIdSet{}, true, " Err "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(getDownstreamPortLinkString(c.path, c.all, c.shown), c.connector)
            << c.path << " shown " << c.shown << " union size " << c.all.size();
    EXPECT_EQ(getUpstreamPortTopoBusIdSet(up.string(), both), (BusIdSet{"0000:3c:00.0", "0000:3c:08.0"}));
    fs::remove_all(up.parent_path());
}

TEST(TopologyPieces, LevelsOutsideOneToThreeAreErrors) {
    EXPECT_EQ(getGPUString("/sys/devices/pci0000:3a/0000:3a:00.0/0000:3b:00.0", 1), "[GPU]");
    EXPECT_EQ(getGPUString("/sys/devices/pci0000:3a/0000:3a:00.0/0000:3b:00.0", 2), "[GPU] 3b:00.0");
    EXPECT_EQ(getGPUString("/sys/devices/pci0000:3a/0000:3a:00.0/0000:3b:00.0", 3), " -- [GPU] 3b:00.0");
    EXPECT_EQ(getGPUString("x/0000:3b:00.0", 4), "GPU string error!");
    EXPECT_EQ(getUpstreamPortString("x/0000:3b:00.0", 0, {}, {}), "Upstream Port string error!");
    EXPECT_EQ(getUpstreamPortString("x/0000:3b:00.0", 3, {}, {"0000:3b:00.0"}), std::string(21, ' '));
}

// A GPU that left sysfs after enumeration, or whose path does not lie under a PCI root, is
// reported and the view goes on.
TEST(ShowTopo, ReportsGpusWithoutUsablePath) {
    const fs::path root = fs::path(testing::TempDir()) / "gputuner_topo_root";
    fs::remove_all(root);
    fs::create_directories(root / "bus/pci/devices");
    fs::create_directories(root / "x");
    fs::create_directory_symlink(root / "x", root / "bus/pci/devices/0000:98:00.0");
    const std::string saved = host::sysfsRoot;
    host::sysfsRoot = root.string();
    testing::internal::CaptureStdout();
    const bool shown = showTopo({"0000:98:00.0", "0000:99:00.0"}, "vv");
    const std::string out = testing::internal::GetCapturedStdout();
    host::sysfsRoot = saved;
    fs::remove_all(root);
    EXPECT_TRUE(shown);
    EXPECT_EQ(out.substr(0, out.find("Legend:")),
              "\033[31mERROR: [0000:98:00.0]: Unexpected sysfs path " + (root / "x").string() +
                  ", left out of the topology.\n\033[0m"
                  "\033[31mERROR: [0000:99:00.0]: Not found in sysfs, left out of the topology.\n\033[0m");
}

}  // namespace
