// Growable arrays: growth points, out-of-range answers, search, removal and
// the order in which the pointer list calls its hooks.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "markhound/signatures/pattern_byte.h"
#include "markhound/support/arrays.h"

namespace {

TEST(ItemArrayGrowth, PatternArrayGrowsWhenAnAdditionWouldFillIt) {
    PatternArray pattern;
    EXPECT_EQ(pattern.Capacity(), 150u);
    PatternByte element{1, 0x42};
    for (int i = 0; i < 149; ++i) pattern.Add(&element);
    const void* block = pattern.Items();
    EXPECT_EQ(pattern.Capacity(), 150u);
    EXPECT_EQ(pattern.Items(), block);
    pattern.Add(&element);  // the 150th item
    EXPECT_EQ(pattern.Capacity(), 250u);
    for (int i = 150; i < 250; ++i) pattern.Add(&element);
    EXPECT_EQ(pattern.Capacity(), 350u);
    EXPECT_EQ(pattern.Count(), 250);
    const auto* items = static_cast<const PatternByte*>(pattern.Items());
    for (int i = 0; i < pattern.Count(); ++i) ASSERT_EQ(items[i].value, 0x42);
}

TEST(ItemArrayGrowth, ZeroInitialHasNoBlockUntilTheFirstAdd) {
    ItemArray array(4, 0, 7);
    EXPECT_EQ(array.Items(), nullptr);
    EXPECT_EQ(array.Capacity(), 0u);
    array.Add(nullptr);
    EXPECT_EQ(array.Capacity(), 8u);  // 1 + grow_by
}

TEST(ItemArrayGrowth, ClearKeepsTheBlockForReuse) {
    ItemArray array(4, 2, 3);
    uint32_t value = 9;
    for (int i = 0; i < 4; ++i) array.Add(&value);
    const uint32_t capacity = array.Capacity();
    const void* block = array.Items();
    array.Clear();
    EXPECT_EQ(array.Count(), 0);
    array.Add(&value);
    EXPECT_EQ(array.Capacity(), capacity);
    EXPECT_EQ(array.Items(), block);
}

TEST(ItemArrayGrowth, UnsetArrayTakesItsSizesFromInit) {
    ItemArray array(0, 10, 10);
    EXPECT_EQ(array.Capacity(), 0u);
    array.Init(8, 1, 2);
    EXPECT_EQ(array.ItemSize(), 8u);
    EXPECT_EQ(array.Capacity(), 3u);
}

TEST(ItemArrayAdd, NullSourceAddsZeroBytesAndCopiesOtherwise) {
    ItemArray array(3, 0, 1);
    const uint8_t bytes[3] = {1, 2, 3};
    auto* first = static_cast<uint8_t*>(array.Add(bytes));
    auto* second = static_cast<uint8_t*>(array.Add(nullptr));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const auto* stored = static_cast<const uint8_t*>(array.At(0));
    EXPECT_EQ(std::vector<uint8_t>(stored, stored + 3), (std::vector<uint8_t>{1, 2, 3}));
    stored = static_cast<const uint8_t*>(array.At(1));
    EXPECT_EQ(std::vector<uint8_t>(stored, stored + 3), (std::vector<uint8_t>{0, 0, 0}));
}

std::vector<uint32_t> Values(const ItemArray& array) {
    std::vector<uint32_t> values;
    for (int32_t i = 0; i < array.Count(); ++i) values.push_back(*static_cast<uint32_t*>(array.Item(i)));
    return values;
}

ItemArray* MakeArray(std::vector<uint32_t> values) {
    auto* array = new ItemArray(4, 0, 2);
    for (uint32_t value : values) array->Add(&value);
    return array;
}

TEST(ItemArrayRange, OutOfRangeIndicesAreHarmless) {
    std::unique_ptr<ItemArray> array(MakeArray({10, 20, 30}));
    EXPECT_EQ(array->At(3), nullptr);
    EXPECT_EQ(array->At(-1), nullptr);
    EXPECT_NE(array->At(2), nullptr);
    array->RemoveAt(3);
    array->RemoveAt(-1);
    EXPECT_EQ(Values(*array), (std::vector<uint32_t>{10, 20, 30}));
}

TEST(ItemArrayRange, RemoveAtMovesLaterItemsDownInOrder) {
    struct Row {
        int32_t index;
        std::vector<uint32_t> expected;
    };
    const Row rows[] = {{0, {20, 30}}, {1, {10, 30}}, {2, {10, 20}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        std::unique_ptr<ItemArray> array(MakeArray({10, 20, 30}));
        array->RemoveAt(row.index);
        EXPECT_EQ(Values(*array), row.expected);
    }
}

TEST(ItemArrayFind, GivesTheLowestMatchingIndexAtOrAfterStart) {
    std::unique_ptr<ItemArray> array(MakeArray({5, 7, 5, 7}));
    struct Row {
        uint32_t key;
        int32_t start;
        int32_t expected;
    };
    const Row rows[] = {{5, 0, 0}, {5, 1, 2}, {7, 0, 1}, {7, 2, 3}, {7, 4, -1},
                        {7, 100, -1}, {5, -1, -1}, {9, 0, -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.key << " from " << row.start);
        EXPECT_EQ(array->Find(&row.key, row.start, nullptr), row.expected);
    }
    ItemArray empty(4, 0, 1);
    uint32_t key = 5;
    EXPECT_EQ(empty.Find(&key, 0, nullptr), -1);
}

TEST(ItemArrayFind, CompareFunctionGetsKeyFirstAndDecidesOnZero) {
    std::unique_ptr<ItemArray> array(MakeArray({3, 14, 15}));
    // Matches the first item greater than the key.
    auto greater = [](const void* key, const void* item) -> int {
        return *static_cast<const uint32_t*>(item) > *static_cast<const uint32_t*>(key) ? 0 : 1;
    };
    uint32_t key = 10;
    EXPECT_EQ(array->Find(&key, 0, greater), 1);
    EXPECT_EQ(array->Find(&key, 2, greater), 2);
}

TEST(ItemArrayMemory, AdditionWithoutMemoryAddsNothingAndKeepsTheItems) {
    ItemArray array(4, 0, 1);
    for (uint32_t v = 0; v < 4; ++v) array.Add(&v);
    ASSERT_EQ(array.Capacity(), 5u);
    MemSetFailureHook([](std::size_t) { return true; });
    uint32_t value = 99;
    void* last_free = array.Add(&value);  // the block still has room for it
    void* refused = array.Add(&value);
    MemSetFailureHook(nullptr);
    EXPECT_NE(last_free, nullptr);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(array.Capacity(), 5u);
    EXPECT_EQ(Values(array), (std::vector<uint32_t>{0, 1, 2, 3, 99}));
    EXPECT_NE(array.Add(&value), nullptr);  // memory is back
    EXPECT_EQ(array.Count(), 6);
}

// A pointer list that logs its hooks.
class LoggingList : public PtrArray {
public:
    explicit LoggingList(int32_t owns, std::vector<std::string>* sink = nullptr)
        : PtrArray(1, 1, owns), sink_(sink) {}
    ~LoggingList() override {
        DeleteAll();
        if (sink_ != nullptr) *sink_ = log;
    }
    std::vector<std::string> log;
    // Items still in the list while each disposal runs.
    std::vector<int32_t> counts_at_dispose;

protected:
    void OnAdd(void* item) override { log.push_back("add " + Name(item)); }
    void DisposeItem(void* item, int32_t owns) override {
        log.push_back("dispose " + Name(item) + " " + std::to_string(owns));
        counts_at_dispose.push_back(Count());
    }

private:
    std::vector<std::string>* sink_;
    static std::string Name(void* item) { return item == nullptr ? "null" : static_cast<const char*>(item); }
};

char kA[] = "a", kB[] = "b", kC[] = "c";

TEST(PtrArrayHooks, AppendCallsOnAddWithTheStoredPointer) {
    LoggingList list(1);
    EXPECT_EQ(list.Append(kA), kA);
    EXPECT_EQ(list.Append(nullptr), nullptr);
    EXPECT_EQ(list.log, (std::vector<std::string>{"add a", "add null"}));
    EXPECT_EQ(list.Count(), 2);
}

TEST(PtrArrayHooks, DeleteAllDisposesInIndexOrderWhileAllAreHeld) {
    LoggingList list(7);
    list.Append(kA);
    list.Append(kB);
    list.Append(kC);
    list.log.clear();
    list.DeleteAll();
    // The ownership value is passed as it is, not reduced to 0 or 1.
    EXPECT_EQ(list.log, (std::vector<std::string>{"dispose a 7", "dispose b 7", "dispose c 7"}));
    EXPECT_EQ(list.counts_at_dispose, (std::vector<int32_t>{3, 3, 3}));
    EXPECT_EQ(list.Count(), 0);
    list.log.clear();
    list.DeleteAll();
    EXPECT_TRUE(list.log.empty());
}

TEST(PtrArrayHooks, DeleteItemRemovesTheFirstOccurrenceBeforeDisposingIt) {
    LoggingList list(5);
    list.Append(kA);
    list.Append(kB);
    list.Append(kA);
    list.log.clear();
    list.DeleteItem(kA);
    EXPECT_EQ(list.log, (std::vector<std::string>{"dispose a 1"}));
    EXPECT_EQ(list.counts_at_dispose, (std::vector<int32_t>{2}));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.PtrAt(0), kB);
    EXPECT_EQ(list.PtrAt(1), kA);
}

TEST(PtrArrayHooks, DeleteItemOfAnAbsentPointerCallsNoHook) {
    LoggingList list(0);
    list.Append(kA);
    list.log.clear();
    list.DeleteItem(kB);
    EXPECT_TRUE(list.log.empty());
    EXPECT_EQ(list.Count(), 1);
    list.DeleteItem(kA);
    EXPECT_EQ(list.log, (std::vector<std::string>{"dispose a 0"}));
}

TEST(PtrArrayHooks, DestructionDisposesThroughTheDerivedHook) {
    std::vector<std::string> log;
    {
        LoggingList list(1, &log);
        list.Append(kA);
        list.Append(kB);
        list.log.clear();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"dispose a 1", "dispose b 1"}));
}

}  // namespace
