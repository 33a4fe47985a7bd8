// Detect dispatch over the signature list: list order, first match wins,
// untouched items, and disposal of every signature kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_reader.h"
#include "signatures/signature_list.h"

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
