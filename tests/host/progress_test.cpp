// The progress line: what it shows and that it fits its width.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "host/report/progress.h"

namespace {

TEST(ProgressLine, ShowsBytesRateItemsAndTimeLeft) {
    const uint64_t mib = 1 << 20;
    const std::string line = RenderProgress(10 * mib, 40 * mib, 3, 2.0, 100);
    EXPECT_NE(line.find(" 25%"), std::string::npos) << line;
    EXPECT_NE(line.find(" 10.5/ 41.9 MB "), std::string::npos) << line;  // decimal units, as the rate
    EXPECT_NE(line.find("5.2 MB/s"), std::string::npos) << line;  // 10 MiB in 2 s
    EXPECT_NE(line.find("3 items"), std::string::npos) << line;
    EXPECT_NE(line.find("0:06 left"), std::string::npos) << line;
    EXPECT_EQ(line.rfind("[##########", 0), 0u) << line;
}

TEST(ProgressLine, FitsTheWidthAndCopesWithTheStart) {
    const struct {
        uint64_t done, total;
        double seconds;
        size_t width;
    } rows[] = {
        {0, 100, 0.0, 80}, {100, 100, 1.0, 80}, {200, 100, 1.0, 80},
        {50, 100, 1.0, 40}, {50, 100, 1.0, 10}, {0, 0, 0.0, 80}, {1, 1ull << 40, 3600.0, 80},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.width);
        const std::string line = RenderProgress(row.done, row.total, 1, row.seconds, row.width);
        EXPECT_LE(line.size(), row.width);
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
    EXPECT_NE(RenderProgress(0, 100, 0, 0.0, 80).find("--:-- left"), std::string::npos);
    // The fields keep their widths as the numbers change: the bar does not jump.
    const size_t length = RenderProgress(0, 0, 0, 0.0, 100).size();
    const struct {
        uint64_t done, total, items;
        double seconds;
        const char* shows;
    } widths[] = {
        {0, 999, 1, 0.5, "  0.0/  1.0 kB"},
        {999, 999, 2, 0.5, "  1.0/  1.0 kB"},
        {5 << 20, 100 << 20, 99999, 1.0, "  5.2/104.9 MB"},
        {uint64_t{1} << 40, uint64_t{1} << 40, 7, 3.0, "1.1 TB"},
        {1000000, 3724000000, 5, 1.0, "1:02:03 left"},
        {1, 1ull << 40, 1, 3600.0, " --:--:-- left"},  // a hundred hours or more
        {uint64_t{5} << 30, uint64_t{10} << 30, 1, 2.0, "  2.7 GB/s"},
    };
    for (const auto& row : widths) {
        const std::string line = RenderProgress(row.done, row.total, row.items, row.seconds, 100);
        EXPECT_EQ(line.size(), length) << line;
        EXPECT_NE(line.find(row.shows), std::string::npos) << line;
    }
    EXPECT_NE(RenderProgress(1, 1ull << 40, 0, 1.0, 120).find(":"), std::string::npos);
}

TEST(ProgressBar, DisabledPrintsNothing) {
    std::ostringstream err;
    Progress progress(false, err);
    progress.Start(100);
    progress.Update(50, 1);
    progress.Finish();
    EXPECT_TRUE(err.str().empty());
}

TEST(ProgressBar, EnabledDrawsOnOneLineAndClearsIt) {
    std::ostringstream err;
    Progress progress(true, err);
    progress.Start(100);
    progress.Update(50, 1);
    progress.Finish();
    const std::string text = err.str();
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 2);
    EXPECT_NE(text.find(" 50%"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
}

}  // namespace
