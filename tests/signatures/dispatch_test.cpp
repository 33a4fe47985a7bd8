// Detect dispatch over the signature list: list order, first match wins,
// untouched items, and disposal of every signature kind.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "markhound/signatures/signature_list.h"
#include "tests/fakes/fake_reader.h"
#include "tests/signatures/signature_builders.h"

namespace {

std::vector<std::string> g_log;

// A signature whose answer is fixed; it logs each call and each destruction.
class ScriptedSignature : public SizedSignature {
public:
    ScriptedSignature(const char* id, bool answer) : answer_(answer) { name.Set(id); }
    ~ScriptedSignature() override { g_log.push_back(std::string("destroy ") + name.text); }

    bool Match(const HostReader*, uint64_t position, FoundItem* item) override {
        g_log.push_back(std::string("match ") + name.text);
        if (!answer_) return false;
        item->offset = position;
        item->size = 1;
        item->extension = ext.text;
        item->description = name.text;
        return true;
    }

private:
    bool answer_;
};

class DispatchTest : public testing::Test {
protected:
    void SetUp() override { g_log.clear(); }
    void Add(const char* id, bool answer) { list.Append(new ScriptedSignature(id, answer)); }
    SignatureList list;
    FakeReader reader{{1, 2, 3}};
};

TEST_F(DispatchTest, FirstMatchInListOrderWinsAndLaterOnesAreNotAsked) {
    Add("a", false);
    Add("b", true);
    Add("c", true);
    FoundItem item = PoisonedItem();
    EXPECT_EQ(DetectWithList(list, reader.reader(), 7, &item), 1u);
    EXPECT_EQ(g_log, (std::vector<std::string>{"match a", "match b"}));
    EXPECT_STREQ(item.description, "b");
    EXPECT_EQ(item.offset, 7u);
}

TEST_F(DispatchTest, NoMatchLeavesTheItemAsTheHostPassedIt) {
    Add("a", false);
    Add("b", false);
    const FoundItem before = PoisonedItem();
    FoundItem item = before;
    EXPECT_EQ(DetectWithList(list, reader.reader(), 0, &item), 0u);
    EXPECT_TRUE(SameItem(item, before));
    EXPECT_EQ(g_log, (std::vector<std::string>{"match a", "match b"}));
}

TEST_F(DispatchTest, EmptyListAnswersZeroWithoutReading) {
    FoundItem item = PoisonedItem();
    EXPECT_EQ(DetectWithList(list, reader.reader(), 0, &item), 0u);
    EXPECT_TRUE(reader.calls().empty());
}

TEST_F(DispatchTest, DeleteAllDestroysEverySignatureInOrder) {
    Add("a", false);
    Add("b", false);
    list.DeleteAll();
    EXPECT_EQ(g_log, (std::vector<std::string>{"destroy a", "destroy b"}));
    EXPECT_EQ(list.Count(), 0);
}

TEST(SignatureListDisposal, DestroysBothKindsWithTheirPatterns) {
    // Leak-checked under ASan: a BoundedSignature's end pattern is released too.
    SignatureList list;
    auto* sized = new SizedSignature;
    auto* bounded = new BoundedSignature;
    PatternByte element{1, 0x41};
    sized->pattern.Add(&element);
    bounded->pattern.Add(&element);
    bounded->end_pattern.Add(&element);
    list.Append(sized);
    list.Append(bounded);
    list.DeleteItem(sized);
    EXPECT_EQ(list.Count(), 1);
    list.Append(nullptr);  // a null item is passed over by disposal
    list.DeleteAll();
    EXPECT_EQ(list.Count(), 0);
}

// Random patterns over a four-letter alphabet, so that many of them match.
std::vector<int> RandomPattern(std::mt19937& random, size_t min_length) {
    std::vector<int> pattern(min_length + random() % 4);
    for (int& element : pattern) element = random() % 5 == 0 ? kAny : 'a' + random() % 4;
    return pattern;
}

SizedSignature* RandomSignature(std::mt19937& random, int id) {
    static const char* const kNames[] = {"s0", "s1", "s2", "s3"};
    if (random() % 2 == 0) {
        auto* sized = new SizedSignature;
        FillPattern(sized->pattern, RandomPattern(random, 1));
        sized->size_offset = random() % 6;
        sized->size_width = uint64_t{1} << (random() % 3);
        sized->size_addon = random() % 3;
        Name(*sized, kNames[id % 4], "sz");
        return sized;
    }
    auto* bounded = new BoundedSignature;
    FillPattern(bounded->pattern, RandomPattern(random, 1));
    FillPattern(bounded->end_pattern, RandomPattern(random, 0));
    bounded->limit_size() = random() % 3 == 0 ? random() % 40 : 0;
    bounded->start_offset = random() % 3;
    bounded->end_offset = random() % 3;
    Name(*bounded, kNames[id % 4], "bd");
    return bounded;
}

// Detect answers each position of the list's own classes with the item and
// the reader calls that asking each Match in turn gives, match or not.
TEST(DispatchOfLoaderClasses, AnswersAndReadsAsTheirMatchInListOrder) {
    std::mt19937 random(2024);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        SignatureList list;
        const int count = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < count; ++i) list.Append(RandomSignature(random, i));
        std::vector<uint8_t> data(48);
        for (uint8_t& byte : data) byte = static_cast<uint8_t>('a' + random() % 4);
        const uint64_t base = round % 2 == 0 ? 0 : 0xFFFFFFF0ull;
        FakeReader detect_reader(data, base, {'a', 'b'});
        FakeReader match_reader(data, base, {'a', 'b'});
        for (uint64_t position = base; position < base + data.size() + 4; ++position) {
            FoundItem detected = PoisonedItem();
            FoundItem matched = PoisonedItem();
            const uint32_t answer = DetectWithList(list, detect_reader.reader(), position, &detected);
            uint32_t expected = 0;
            for (int i = 0; i < list.Count() && expected == 0; ++i) {
                SizedSignature* signature = list.Signature(i);
                expected = signature->Match(match_reader.reader(), position, &matched) ? 1 : 0;
            }
            ASSERT_EQ(answer, expected) << "position " << position;
            ASSERT_TRUE(SameItem(detected, matched)) << "position " << position;
        }
        ASSERT_EQ(detect_reader.calls().size(), match_reader.calls().size());
        for (size_t i = 0; i < detect_reader.calls().size(); ++i) {
            const FakeReader::Call& a = detect_reader.calls()[i];
            const FakeReader::Call& b = match_reader.calls()[i];
            ASSERT_TRUE(a.kind == b.kind && a.position == b.position && a.count == b.count)
                << "call " << i;
        }
    }
}

// A subclass with a Match of its own is asked through it, between
// signatures of the loader's classes.
TEST_F(DispatchTest, SubclassBetweenLoaderClassesIsAskedThroughItsOwnMatch) {
    auto* sized = new SizedSignature;
    FillPattern(sized->pattern, {9});  // the data holds no 9
    list.Append(sized);
    Add("scripted", true);
    FoundItem item = PoisonedItem();
    EXPECT_EQ(DetectWithList(list, reader.reader(), 1, &item), 1u);
    EXPECT_EQ(g_log, (std::vector<std::string>{"match scripted"}));
    EXPECT_STREQ(item.description, "scripted");
    EXPECT_EQ(reader.BytePositions(), (std::vector<uint64_t>{1}));
}

TEST(SignatureListConstruction, HasItsFixedGrowth) {
    SignatureList list;
    EXPECT_EQ(list.Capacity(), 60u);
    EXPECT_EQ(list.GrowBy(), 50u);
    EXPECT_EQ(list.OwnsItems(), 1);
    EXPECT_EQ(list.ItemSize(), sizeof(void*));
}

TEST(SignatureText, IsCutAt260Characters) {
    SignatureText text;
    std::string long_text(300, 'x');
    text.Set(long_text.c_str());
    EXPECT_EQ(text.length, 260u);
    EXPECT_EQ(std::string(text.text), std::string(260, 'x'));
    text.Set(nullptr);
    EXPECT_EQ(text.length, 0u);
    EXPECT_STREQ(text.text, "");
}

}  // namespace
