// Text layer: byte-text functions, StrCopy's bounds, the field splitter,
// String's growth points, its reads and its behaviour when memory runs out.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "markhound/support/memory.h"
#include "markhound/support/text.h"

namespace {

// Refuses every allocation of at least g_refuse_from bytes while it lives.
std::size_t g_refuse_from = 0;
bool RefuseLarge(std::size_t size) { return size >= g_refuse_from; }

struct RefuseAllocations {
    explicit RefuseAllocations(std::size_t from = 0) {
        g_refuse_from = from;
        MemSetFailureHook(RefuseLarge);
    }
    ~RefuseAllocations() { MemSetFailureHook(nullptr); }
};

TEST(TextSearch, LengthAndSearchAnswers) {
    const char* abc = "a\\b\\c";
    const char* x = "\\x";
    const char* none = nullptr;
    EXPECT_EQ(StrLen(nullptr), 0);
    EXPECT_EQ(StrLen(""), 0);
    EXPECT_EQ(StrLen(abc), 5);
    EXPECT_EQ(StrFindChar(abc, '\0'), nullptr);
    EXPECT_EQ(StrFindChar(none, 'a'), nullptr);
    EXPECT_EQ(StrFindChar("", 'a'), nullptr);
    EXPECT_EQ(StrFindChar(abc, '\\'), abc + 1);
    EXPECT_EQ(StrFindChar(abc, 'z'), nullptr);
    EXPECT_EQ(StrFindLastChar(abc, '\\'), abc + 3);
    EXPECT_EQ(StrFindLastChar(x, '\\'), x);
    EXPECT_EQ(StrFindLastChar(abc, '\0'), nullptr);
    EXPECT_EQ(StrFindLastChar(none, 'a'), nullptr);
    EXPECT_EQ(StrFindLastChar("", 'a'), nullptr);
}

TEST(TextSearch, BytesAbove127AreComparedAsBytes) {
    const char text[] = {'a', static_cast<char>(0xE9), 'b', static_cast<char>(0xE9), '\0'};
    EXPECT_EQ(StrFindChar(text, static_cast<char>(0xE9)), text + 1);
    EXPECT_EQ(StrFindLastChar(text, static_cast<char>(0xE9)), text + 3);
    EXPECT_EQ(StrFindChar(text, static_cast<char>(0xC9)), nullptr);
}

TEST(TextCopy, SizesCutAndTerminate) {
    struct Row {
        const char* src;
        uint32_t size;
        const char* expected;
    };
    const Row rows[] = {
        {"abcdef", 4, "abc"},       {"abcdef", 1, ""},          {"abcdef", 7, "abcdef"},
        {"abcdef", 6, "abcde"},     {"abcdef", 16, "abcdef"},  {nullptr, 10, ""},
        {"abcdef", kStrCopyUnbounded, "abcdef"},                {"", 5, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.src ? row.src : "(null)") + " size " + std::to_string(row.size));
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(StrCopy(buffer, row.src, row.size), buffer);
        EXPECT_STREQ(buffer, row.expected);
    }
}

TEST(TextCopy, NullDestinationGivesNull) { EXPECT_EQ(StrCopy(nullptr, "abc", 4), nullptr); }

TEST(TextCopy, SizeZeroWritesNothing) {
    char buffer[4] = {'x', 'y', 'z', '\0'};
    EXPECT_EQ(StrCopy(buffer, "abc", 0), buffer);
    EXPECT_STREQ(buffer, "xyz");
}

TEST(TextCopy, ShortSourceZeroFillsTheBoundedPart) {
    char buffer[12];
    std::memset(buffer, '#', sizeof buffer);
    StrCopy(buffer, "ab", 10);
    for (int i = 2; i < 10; ++i) EXPECT_EQ(buffer[i], '\0') << i;
    EXPECT_EQ(buffer[10], '#');  // beyond size: untouched
}

TEST(TextCopy, LongSourceFillsExactlyTheBuffer) {
    // Exact-size heap buffers, so that a write past them shows under ASan.
    const std::string long_text(300, 'p');
    for (uint32_t size : {1u, 2u, 260u, 261u}) {
        SCOPED_TRACE(size);
        std::unique_ptr<char[]> buffer(new char[size]);
        StrCopy(buffer.get(), long_text.c_str(), size);
        EXPECT_EQ(std::string(buffer.get()), long_text.substr(0, size - 1));
    }
    std::unique_ptr<char[]> whole(new char[301]);
    StrCopy(whole.get(), long_text.c_str(), kStrCopyUnbounded);
    EXPECT_EQ(std::string(whole.get()), long_text);
}

TEST(TextFields, TokenCountCountsEmptyFields) {
    struct Row {
        const char* s;
        const char* delims;
        int32_t expected;
    };
    const Row rows[] = {
        {"", ",", 0},     {nullptr, ",", 0}, {"a", nullptr, 0}, {"a", "", 0},
        {"a", ",", 1},    {"a,b,", ",", 3},  {"1,,2", ",", 3},  {",", ",", 2},
        {"a b,c", ", ", 3}, {" x ", ",", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.s ? row.s : "(null)");
        EXPECT_EQ(TokenCount(row.s, row.delims), row.expected);
    }
}

TEST(TextFields, TokenGivesFieldTextsWithBlanks) {
    struct Row {
        const char* s;
        int32_t n;
        const char* delims;
        const char* expected;
    };
    const Row rows[] = {
        {"a,b,c", 1, ",", "a"},       {"a,b,c", 2, ",", "b"},     {"a,b,c", 3, ",", "c"},
        {"a,,c", 2, ",", ""},         {"a,,c", 3, ",", "c"},      {"a,b", 3, ",", ""},
        {"a,b", 0, ",", ""},          {"a,b", -1, ",", ""},       {" x ,y", 1, ",", " x "},
        {"a, b ", 2, ",", " b "},     {"a,b,", 3, ",", ""},       {",a", 1, ",", ""},
        {"a;b,c", 2, ",;", "b"},      {"a,b", 1, nullptr, "a,b"}, {"a,b", 2, nullptr, ""},
        {"", 1, ",", ""},             {"4D,5A,90", 3, ",", "90"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.s) + " field " + std::to_string(row.n));
        EXPECT_STREQ(Token(row.s, row.n, row.delims), row.expected);
    }
}

TEST(TextFields, TokenResultIsOverwrittenByTheNextCall) {
    const char* first = Token("one,two", 1, ",");
    EXPECT_STREQ(first, "one");
    const char* second = Token("three,four", 2, ",");
    EXPECT_STREQ(second, "four");
    EXPECT_EQ(first, second);  // one shared text
}

TEST(TextFields, LongFieldGrowsTheSharedText) {
    const std::string field(500, 'q');
    EXPECT_EQ(std::string(Token(("x," + field + ",y").c_str(), 2, ",")), field);
}

TEST(TextFields, TokenKeepsAPrefixWhenMemoryRunsOut) {
    Token("", 1, ",");  // the shared text has its block
    const std::string field(4000, 'r');  // longer than any field before
    RefuseAllocations refuse;
    const std::string got = Token(("a," + field).c_str(), 2, ",");
    EXPECT_LT(got.size(), field.size());
    EXPECT_EQ(got, field.substr(0, got.size()));
}

TEST(TextBlocks, StrAllocZeroesTheWholeBlock) {
    char* block = StrAlloc(7);
    ASSERT_NE(block, nullptr);
    for (int i = 0; i <= 7; ++i) EXPECT_EQ(block[i], '\0') << i;
    StrFree(block);
    EXPECT_EQ(StrAlloc(-1), nullptr);
}

TEST(TextBlocks, StrReallocKeepsTextAndFailsWithoutLoss) {
    char* block = StrAlloc(4);
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcd", 5);
    char* grown = StrRealloc(block, 10);
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "abcd");
    for (int i = 4; i <= 10; ++i) EXPECT_EQ(grown[i], '\0') << i;
    {
        RefuseAllocations refuse;
        EXPECT_EQ(StrRealloc(grown, 20), nullptr);
    }
    EXPECT_STREQ(grown, "abcd");  // still owned by the caller, unchanged
    char* shrunk = StrRealloc(grown, 3);
    ASSERT_NE(shrunk, nullptr);
    EXPECT_STREQ(shrunk, "ab");  // at most n - 1 characters
    StrFree(shrunk);
}

TEST(StringGrowth, CapacitiesFollowTheSlackRules) {
    struct Row {
        const char* src;
        int32_t n;
        int32_t length;
        int32_t capacity;
    };
    const Row rows[] = {
        {"abc", -1, 3, 9},     // reservation of 4, plus 5
        {nullptr, -1, 0, 6},   // an empty text still gets a block
        {"", -1, 0, 6},
        {"abcdef", 2, 2, 8},   // explicit length
        {"abcdefgh", -1, 8, 14},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.src ? row.src : "(null)");
        String s(row.src, row.n);
        EXPECT_EQ(s.Length(), row.length);
        EXPECT_EQ(s.Capacity(), row.capacity);
        EXPECT_EQ(StrLen(s.Text()), row.length);
    }
}

TEST(StringGrowth, ReserveGrowsFromTheCapacityOn) {
    struct Row {
        int32_t n;
        int32_t capacity;
    };
    const Row rows[] = {{-1, 9}, {0, 9}, {8, 9}, {9, 14}, {13, 14}, {14, 19}, {100, 105}};
    String s("abc");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.n);
        s.Reserve(row.n);
        EXPECT_EQ(s.Capacity(), row.capacity);
        EXPECT_STREQ(s.Text(), "abc");  // the characters survive
        EXPECT_EQ(s.Length(), 3);
    }
    String empty;
    empty.Reserve(0);
    EXPECT_EQ(empty.Capacity(), 5);
    EXPECT_STREQ(empty.Text(), "");

    String a("abc");
    a.Append(String("defgh"));  // Reserve(9) at capacity 9 grows the block
    EXPECT_EQ(a.Capacity(), 14);
    EXPECT_STREQ(a.Text(), "abcdefgh");
}

TEST(StringGrowth, AppendCharGrowsOnlyWhenTheBlockIsNearlyFull) {
    String abc("abc");
    const char* block = abc.Text();
    abc.AppendChar('d');
    EXPECT_EQ(abc.Capacity(), 9);
    EXPECT_EQ(abc.Text(), block);
    EXPECT_STREQ(abc.Text(), "abcd");

    String eight("abc");
    for (char c : std::string("defgh")) eight.AppendChar(c);
    ASSERT_EQ(eight.Length(), 8);
    ASSERT_EQ(eight.Capacity(), 9);
    eight.AppendChar('i');
    EXPECT_EQ(eight.Capacity(), 23);  // length + 10 + 5
    EXPECT_STREQ(eight.Text(), "abcdefghi");
}

TEST(StringGrowth, AppendCharOfZeroAddsNothingAndEveryCallGivesACopy) {
    String s("ab");
    String copy = s.AppendChar('\0');
    EXPECT_STREQ(s.Text(), "ab");
    EXPECT_STREQ(copy.Text(), "ab");
    String after = s.AppendChar('c');
    EXPECT_STREQ(after.Text(), "abc");
    EXPECT_NE(after.Text(), s.Text());
    after.AppendChar('z');
    EXPECT_STREQ(s.Text(), "abc");
}

TEST(StringGrowth, AppendJoinsAndReservesRoom) {
    String a("abc");
    String b("defghij");
    a.Append(b);
    EXPECT_STREQ(a.Text(), "abcdefghij");
    EXPECT_EQ(a.Length(), 10);
    EXPECT_EQ(a.Capacity(), 16);  // Reserve(3 + 7 + 1)
    String none;
    a.Append(none);
    EXPECT_STREQ(a.Text(), "abcdefghij");
    none.Append(b);
    EXPECT_STREQ(none.Text(), "defghij");
}

TEST(StringGrowth, AppendToItselfDoublesTheText) {
    String s("abcd");
    s.Append(s);
    EXPECT_STREQ(s.Text(), "abcdabcd");
    EXPECT_EQ(s.Length(), 8);
    String big(std::string(40, 'w').c_str());
    big.Append(big);  // moves to a new block on the way
    EXPECT_EQ(std::string(big.Text()), std::string(80, 'w'));
}

TEST(StringRead, NoBlockReadsAsOneSharedEmptyText) {
    String a;
    String b;
    EXPECT_STREQ(a.Text(), "");
    EXPECT_EQ(a.Text(), b.Text());
    EXPECT_EQ(a.Length(), 0);
    EXPECT_EQ(a.Capacity(), 0);
    EXPECT_EQ(a.CharAt(0), 0);
    String c(a);  // a copy of an empty String owns a block
    EXPECT_NE(c.Text(), a.Text());
    EXPECT_EQ(c.Capacity(), 6);
}

TEST(StringRead, CharAtBoundsAndSign) {
    const char text[] = {static_cast<char>(0xE9), 'b', 'c', '\0'};
    String s(text);
    struct Row {
        int32_t index;
        int32_t expected;
    };
    const Row rows[] = {{-1, 0}, {0, -23}, {1, 'b'}, {2, 'c'}, {3, 0}, {4, 0}, {INT32_MAX, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(s.CharAt(row.index), row.expected);
    }
}

TEST(StringAssign, ExplicitLengthCopiesExactBytes) {
    const char bytes[] = {'a', '\0', 'b', 'c'};
    String s;
    s.Assign(bytes, 4);
    EXPECT_EQ(s.Length(), 4);
    EXPECT_EQ(s.CharAt(2), 'b');
    EXPECT_EQ(s.CharAt(4), 0);
    s.Assign("xyz", 0);
    EXPECT_EQ(s.Length(), 0);
    EXPECT_STREQ(s.Text(), "");
}

TEST(StringAssign, SelfAssignmentKeepsTextAndRecountsLength) {
    String s;
    const char bytes[] = {'a', 'b', '\0', 'd'};
    s.Assign(bytes, 4);
    ASSERT_EQ(s.Length(), 4);
    const char* block = s.Text();
    String& same = s;
    s = same;
    EXPECT_EQ(s.Text(), block);
    EXPECT_EQ(s.Length(), 2);  // recounted up to the first terminator
    EXPECT_STREQ(s.Text(), "ab");
    s.Assign(s.Text());
    EXPECT_EQ(s.Length(), 2);
    s.Assign(nullptr);  // a null source recounts as well
    EXPECT_EQ(s.Length(), 2);
    EXPECT_STREQ(s.Text(), "ab");
}

TEST(StringAssign, AssignmentFromAnotherStringCopies) {
    String a("first");
    String b("second text");
    a = b;
    EXPECT_STREQ(a.Text(), "second text");
    EXPECT_NE(a.Text(), b.Text());
    EXPECT_EQ(a.Length(), 11);
    String empty;
    a = empty;
    EXPECT_STREQ(a.Text(), "");
    EXPECT_EQ(a.Length(), 0);
}

TEST(StringAssign, HeapStringGoesThroughMemAlloc) {
    {
        RefuseAllocations refuse;
        EXPECT_EQ(new String("abc"), nullptr);
    }
    String* s = new String("abc");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->Text(), "abc");
    delete s;
}

TEST(StringOutOfMemory, AssignWithoutABlockLeavesTheStringEmpty) {
    String s;
    {
        RefuseAllocations refuse;
        s.Assign("abc");
    }
    EXPECT_STREQ(s.Text(), "");
    EXPECT_EQ(s.Length(), 0);
    EXPECT_EQ(s.Capacity(), 0);
    s.Assign("abc");  // memory is back: a normal assignment
    EXPECT_STREQ(s.Text(), "abc");
    EXPECT_EQ(s.Capacity(), 9);
}

TEST(StringOutOfMemory, AssignIsCutToTheCapacityItHas) {
    String s("abcdef");
    ASSERT_EQ(s.Capacity(), 12);
    const char* block = s.Text();
    RefuseAllocations refuse;
    s.Assign("0123456789abcdefghij");
    EXPECT_EQ(s.Text(), block);
    EXPECT_EQ(s.Capacity(), 12);
    EXPECT_EQ(s.Length(), 12);
    EXPECT_STREQ(s.Text(), "0123456789ab");
}

TEST(StringOutOfMemory, FailedReserveLeavesTheObjectAsItWas) {
    String s("abc");
    const char* block = s.Text();
    RefuseAllocations refuse;
    s.Reserve(100);
    EXPECT_EQ(s.Text(), block);
    EXPECT_EQ(s.Capacity(), 9);
    EXPECT_EQ(s.Length(), 3);
    EXPECT_STREQ(s.Text(), "abc");
}

TEST(StringOutOfMemory, AppendAddsOnlyWhatFits) {
    String s("abc");
    String tail("0123456789");
    RefuseAllocations refuse(14);  // blocks of 14 bytes and more are refused
    s.Append(tail);
    EXPECT_EQ(s.Capacity(), 9);
    EXPECT_STREQ(s.Text(), "abc012345");
    EXPECT_EQ(s.Length(), 9);
    s.Append(tail);
    EXPECT_STREQ(s.Text(), "abc012345");
    EXPECT_EQ(s.Length(), 9);
}

TEST(StringOutOfMemory, AppendCharUsesRoomLeftInTheBlock) {
    String s("abcdefgh");  // capacity 14
    for (char c : std::string("ijklm")) s.AppendChar(c);
    ASSERT_EQ(s.Length(), 13);
    ASSERT_EQ(s.Capacity(), 14);
    RefuseAllocations refuse(25);  // copies (21 bytes) succeed, growth (29) fails
    String copy = s.AppendChar('n');  // growth fails, but one character fits
    EXPECT_STREQ(s.Text(), "abcdefghijklmn");
    EXPECT_STREQ(copy.Text(), "abcdefghijklmn");
    s.AppendChar('o');  // no room at all
    EXPECT_STREQ(s.Text(), "abcdefghijklmn");
    EXPECT_EQ(s.Length(), 14);
    EXPECT_EQ(s.Capacity(), 14);
}

}  // namespace
