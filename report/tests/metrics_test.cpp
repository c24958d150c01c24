// The exposition text of values and labels the end-to-end files never hold, and the atomic write.
#include "atomic_file.h"
#include "metrics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TEST(Metrics, RendersEscapedLabelsSpecialValuesAndSkipsUnknowns) {
    std::vector<report::MetricFamily> m;
    report::addSample(m, "quelvan_x", "Help with \\ and\nnewline.", {{"path", "a\"b\\c\nd"}}, 1.5);
    report::addSample(m, "quelvan_x", "ignored", {{"path", "e"}}, std::nan(""));
    report::addSample(m, "quelvan_y", "Unknown only.", {}, std::nullopt);
    report::addSample(m, "quelvan_z", "Infinite.", report::deviceLabels(3, "0000:3D:00.0"), INFINITY);
    EXPECT_EQ(report::renderMetrics(m),
              "# HELP quelvan_x Help with \\\\ and\\nnewline.\n"
              "# TYPE quelvan_x gauge\n"
              "quelvan_x{path=\"a\\\"b\\\\c\\nd\"} 1.5\n"
              "quelvan_x{path=\"e\"} NaN\n"
              "# HELP quelvan_z Infinite.\n"
              "# TYPE quelvan_z gauge\n"
              "quelvan_z{gpu=\"3\",pci_bus_id=\"0000:3d:00.0\"} +Inf\n");
}

TEST(Metrics, WritesAtomicallyAndLeavesNoTemporaryFile) {
    char name[] = "/tmp/quelvan-metrics-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const fs::path dir = name;
    const std::string target = (dir / "q.prom").string();
    std::string error;
    ASSERT_TRUE(report::writeFileAtomically(target, "old\n", &error)) << error;
    ASSERT_TRUE(report::writeFileAtomically(target, "new\n", &error)) << error;
    std::stringstream text;
    text << std::ifstream(target).rdbuf();
    EXPECT_EQ(text.str(), "new\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    EXPECT_FALSE(report::writeFileAtomically((dir / "missing" / "q.prom").string(), "x\n", &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    // A target that is a directory: the rename fails and the temporary file goes away.
    fs::create_directory(dir / "d.prom");
    EXPECT_FALSE(report::writeFileAtomically((dir / "d.prom").string(), "x\n", &error));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    fs::remove_all(dir);
}
