// The scan loop on in-process detectors: which positions are asked, what is
// reported, where the scan goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "host/base/reader.h"
#include "host/scan/chunk_join.h"
#include "host/scan/scan.h"

namespace {

constexpr uint64_t kMax = ~uint64_t{0};

// A detector that answers from a table of items and logs the positions asked.
struct FakeDetector {
    std::map<uint64_t, FoundItem> items;
    std::vector<uint64_t> asked;
    char text[16] = "fake";
};
FakeDetector g_fakes[2];

template <int N>
uint32_t KX_CALL FakeDetect(uint32_t, const HostReader*, uint64_t position, FoundItem* item) {
    FakeDetector& fake = g_fakes[N];
    fake.asked.push_back(position);
    const auto found = fake.items.find(position);
    if (found == fake.items.end()) return 0;
    *item = found->second;
    return 1;
}

uint32_t KX_CALL One(uint32_t, uint32_t) { return 1; }
void KX_CALL None(uint32_t) {}

const PluginInterface kRecords[2] = {
    {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None, &None, &FakeDetect<0>, 0},
    {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None, &None, &FakeDetect<1>, 0},
};

class ScanLoop : public ::testing::Test {
protected:
    void SetUp() override {
        for (FakeDetector& fake : g_fakes) fake = FakeDetector();
    }
    void Add(int detector, uint64_t offset, uint64_t size, const char* ext = "x") {
        g_fakes[detector].items[offset] = {offset, size, ext, "fake item"};
    }
    std::vector<Item> Scan(size_t data_size, const ScanOptions& options = {},
                           std::vector<int> order = {0, 1}, uint64_t begin = 0,
                           uint64_t end = kMax) {
        bytes_.assign(data_size, 0);
        data_ = {bytes_.data(), bytes_.size()};
        reader_ = MakeReader(&data_);
        std::vector<Detector> detectors;
        for (int index : order) detectors.push_back({&kRecords[index], static_cast<uint32_t>(index)});
        Scanner scanner(&reader_, data_size, detectors, options);
        std::vector<Item> items;
        scanner.ScanRange(begin, end == kMax ? data_size : end,
                          [&](const Item& item) { items.push_back(item); }, nullptr);
        return items;
    }
    static std::vector<uint64_t> Offsets(const std::vector<Item>& items) {
        std::vector<uint64_t> offsets;
        for (const Item& item : items) offsets.push_back(item.offset);
        return offsets;
    }
    static std::vector<uint64_t> Range(uint64_t from, uint64_t to) {
        std::vector<uint64_t> positions;
        for (uint64_t p = from; p < to; ++p) positions.push_back(p);
        return positions;
    }

    std::vector<uint8_t> bytes_;
    MappedData data_{};
    HostReader reader_{};
};

TEST_F(ScanLoop, AdjacentItemsAreBothFoundAndTheirInsidesNotAsked) {
    Add(0, 10, 5);
    Add(0, 15, 3);
    const std::vector<Item> items = Scan(30);
    EXPECT_EQ(Offsets(items), (std::vector<uint64_t>{10, 15}));
    std::vector<uint64_t> expected = Range(0, 11);
    expected.push_back(15);
    for (uint64_t p : Range(18, 30)) expected.push_back(p);
    EXPECT_EQ(g_fakes[0].asked, expected);
}

TEST_F(ScanLoop, NestedItemIsFoundOnlyWithNestedScanning) {
    Add(0, 10, 10);
    Add(0, 12, 2);
    EXPECT_EQ(Offsets(Scan(30)), (std::vector<uint64_t>{10}));
    SetUp();
    Add(0, 10, 10);
    Add(0, 12, 2);
    ScanOptions nested;
    nested.nested = true;
    EXPECT_EQ(Offsets(Scan(30, nested)), (std::vector<uint64_t>{10, 12}));
    EXPECT_EQ(g_fakes[0].asked, Range(0, 30));
}

TEST_F(ScanLoop, ItemOfSizeZeroIsReportedAndTheScanMovesOn) {
    Add(0, 5, 0);
    Add(0, 6, 0);
    const std::vector<Item> items = Scan(10);
    EXPECT_EQ(Offsets(items), (std::vector<uint64_t>{5, 6}));
    EXPECT_EQ(items[0].size, 0u);
    EXPECT_FALSE(items[0].truncated);
    EXPECT_EQ(g_fakes[0].asked, Range(0, 10));
}

TEST_F(ScanLoop, TruncatedItemIsCutAtTheEndAndHidesNothingBehindIt) {
    Add(0, 20, 100);
    Add(0, 25, 5);
    const std::vector<Item> items = Scan(30);
    ASSERT_EQ(Offsets(items), (std::vector<uint64_t>{20, 25}));
    EXPECT_TRUE(items[0].truncated);
    EXPECT_EQ(items[0].size, 100u);
    EXPECT_EQ(items[0].size_in_file, 10u);
    EXPECT_FALSE(items[1].truncated);
    EXPECT_EQ(items[1].size_in_file, 5u);
}

TEST_F(ScanLoop, ItemEndingAtTheLastByteIsWhole) {
    Add(0, 26, 4);
    const std::vector<Item> items = Scan(30);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].truncated);
    EXPECT_EQ(items[0].size_in_file, 4u);
}

TEST_F(ScanLoop, FirstPluginInTheOrderThatSaysYesWins) {
    Add(0, 5, 2, "a");
    Add(1, 5, 3, "b");
    std::vector<Item> items = Scan(10, {}, {0, 1});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].plugin, 0u);
    EXPECT_EQ(items[0].extension, "a");
    EXPECT_EQ(std::count(g_fakes[1].asked.begin(), g_fakes[1].asked.end(), 5u), 0);

    SetUp();
    Add(0, 5, 2, "a");
    Add(1, 5, 3, "b");
    items = Scan(10, {}, {1, 0});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].plugin, 1u);
    EXPECT_EQ(items[0].size, 3u);
}

TEST_F(ScanLoop, ItemOutsideTheSizeFiltersCountsAsNotFound) {
    const struct {
        uint64_t min_size, max_size;
        std::vector<uint64_t> sizes;  // of the items reported at 5
    } rows[] = {
        {0, kMax, {100}},
        {0, 50, {20}},   // plug-in 0's item too large: plug-in 1 is asked
        {30, kMax, {100}},
        {101, kMax, {}},
        {20, 20, {20}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.max_size);
        SetUp();
        Add(0, 5, 100);
        Add(1, 5, 20);
        ScanOptions options;
        options.min_size = row.min_size;
        options.max_size = row.max_size;
        std::vector<uint64_t> sizes;
        for (const Item& item : Scan(200, options)) sizes.push_back(item.size);
        EXPECT_EQ(sizes, row.sizes);
    }
}

TEST_F(ScanLoop, FilteredItemDoesNotMakeTheScanSkip) {
    Add(0, 5, 100);
    Add(0, 7, 3);
    ScanOptions options;
    options.max_size = 50;
    EXPECT_EQ(Offsets(Scan(200, options)), (std::vector<uint64_t>{7}));
}

TEST_F(ScanLoop, ScanGoesOnBehindTheReportedRangeNotTheAskedPosition) {
    g_fakes[0].items[5] = {9, 3, "x", "moved"};  // an item that starts after the position
    Add(0, 12, 1);
    EXPECT_EQ(Offsets(Scan(20)), (std::vector<uint64_t>{9, 12}));
    EXPECT_EQ(std::count(g_fakes[0].asked.begin(), g_fakes[0].asked.end(), 11u), 0);
}

TEST_F(ScanLoop, ItemStartingPastTheEndIsTruncatedAndEmpty) {
    g_fakes[0].items[5] = {50, 3, "x", "far"};
    const std::vector<Item> items = Scan(20);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0].truncated);
    EXPECT_EQ(items[0].size_in_file, 0u);
}

TEST_F(ScanLoop, OnlyTheRangeIsAsked) {
    Add(0, 3, 1);
    Add(0, 12, 1);
    EXPECT_EQ(Offsets(Scan(20, {}, {0}, 5, 15)), (std::vector<uint64_t>{12}));
    EXPECT_EQ(g_fakes[0].asked, Range(5, 15));
}

TEST_F(ScanLoop, TextsAreCopiedAndNullTextsBecomeEmpty) {
    g_fakes[0].items[2] = {2, 1, g_fakes[0].text, nullptr};
    const std::vector<Item> items = Scan(5);
    g_fakes[0].text[0] = 'X';
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].extension, "fake");
    EXPECT_EQ(items[0].description, "");
}

TEST_F(ScanLoop, ProgressIsReportedOncePerStrideAndAtTheEnd) {
    Add(0, 10, 1);
    bytes_.assign(2 * kProgressStride + 100, 0);
    data_ = {bytes_.data(), bytes_.size()};
    reader_ = MakeReader(&data_);
    Scanner scanner(&reader_, bytes_.size(), {{&kRecords[0], 0}}, {});
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    scanner.ScanRange(0, bytes_.size(), [](const Item&) {},
                      [&](uint64_t position, uint64_t items) { calls.push_back({position, items}); });
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {
        {kProgressStride, 1}, {2 * kProgressStride, 1}, {bytes_.size(), 1}};
    EXPECT_EQ(calls, expected);
}

TEST(ChunkJoin, WalkInsideJumpsAndWhereTheChunkNeverGotTakeItsItemsElsewhere) {
    const auto found = [](std::vector<std::pair<uint64_t, uint64_t>> spans) {
        std::vector<ChunkFound> list;
        for (const auto& [asked, next] : spans) list.push_back({Item(), asked, next});
        return list;
    };
    const std::vector<ChunkFound> three = found({{10, 20}, {20, 30}, {35, 40}});
    const struct {
        uint64_t position, chunk_end, end_position;
        std::vector<ChunkFound> found;
        JoinStep step;
    } rows[] = {
        {5, 100, 100, three, {false, 0, 0}},   // before its first item: both scans agree
        {15, 100, 100, three, {true, 20, 0}},  // inside the jump of the item at 10
        {20, 100, 100, three, {false, 0, 1}},  // where that jump ends
        {32, 100, 100, three, {false, 0, 2}},  // between items
        {38, 100, 100, three, {true, 40, 0}},  // inside the last jump
        {38, 39, 100, three, {true, 39, 0}},   // ... which runs past the chunk
        {45, 100, 40, three, {true, 100, 0}},  // the chunk's scan ended at 40, full
        {40, 100, 40, three, {true, 100, 0}},
        {3, 100, 100, found({}), {false, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.position);
        EXPECT_EQ(NextJoinStep(row.position, row.chunk_end, row.found, row.end_position), row.step);
    }
}

TEST(ScanArithmetic, SizeInFileAndTruncation) {
    const struct {
        uint64_t offset, size, file_size, in_file;
        bool truncated;
    } rows[] = {
        {0, 10, 10, 10, false},
        {0, 11, 10, 10, true},
        {5, 5, 10, 5, false},
        {5, 6, 10, 5, true},
        {10, 0, 10, 0, false},
        {10, 1, 10, 0, true},
        {11, 0, 10, 0, true},
        {3, kMax, 10, 7, true},  // the end overflows
        {kMax, 2, 10, 0, true},
        {uint64_t{1} << 32, 16, (uint64_t{1} << 32) + 16, 16, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.offset);
        bool truncated = !row.truncated;
        EXPECT_EQ(SizeInFile(row.offset, row.size, row.file_size, &truncated), row.in_file);
        EXPECT_EQ(truncated, row.truncated);
    }
}

TEST(ScanArithmetic, NextPosition) {
    const struct {
        uint64_t position, offset, size;
        bool truncated, nested;
        uint64_t expected;
    } rows[] = {
        {10, 10, 5, false, false, 15},
        {10, 10, 5, false, true, 11},
        {10, 10, 0, false, false, 11},
        {10, 10, 5, true, false, 11},
        {10, 4, 2, false, false, 11},  // an item that ends before the position
        {10, 12, 5, false, false, 17},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        Item item;
        item.offset = row.offset;
        item.size = row.size;
        item.truncated = row.truncated;
        EXPECT_EQ(NextPosition(row.position, item, row.nested), row.expected);
    }
}

}  // namespace
