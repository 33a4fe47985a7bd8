// Pattern reader: every token form and what it adds to a pattern.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "markhound/database/pattern_reader.h"
#include "markhound/signatures/pattern_byte.h"

namespace {

constexpr int kAny = -1;

std::vector<int> Parse(const char* value, std::vector<std::string>* ignored = nullptr) {
    PatternArray pattern;
    auto hook = [](void* context, const char* token) {
        static_cast<std::vector<std::string>*>(context)->push_back(token);
    };
    EXPECT_TRUE(ParsePattern(value, pattern, ignored ? +hook : nullptr, ignored));
    std::vector<int> elements;
    for (int32_t i = 0; i < pattern.Count(); ++i) {
        const auto* element = static_cast<const PatternByte*>(pattern.At(i));
        elements.push_back(element->exact ? element->value : kAny);
    }
    return elements;
}

TEST(ParsePattern, TokenFormsGiveTheirElements) {
    struct Row {
        const char* value;
        std::vector<int> expected;
    };
    const Row rows[] = {
        {"0x4D, 'Z, ?, 255", {0x4D, 0x5A, kAny, 0xFF}},
        {",,,", {}},
        {" , ", {}},
        {"", {}},
        {"256,0x100,0x141", {0x00, 0x00, 0x41}},
        {"4294967295,7,0xFFFFFFFF", {7}},
        {"FF,ZZ,09", {0, 0, 0}},
        {"-1,010,0Ah,101b", {0x01, 0x08, 0x0A, 0x05}},
        {"1Fh,1Fh ,2", {0x1F, 0x00, 0x02}},
        {"h,H,b,B,1", {1}},
        {"',`,'AB,`x", {0x00, 0x00, 0x41, 0x78}},
        {"'A',',", {0x41, 0x00}},  // the comma always ends a token
        {"?abc,?", {kAny, kAny}},
        {"\t\n\v\f\r 7", {7}},
        {"\xA0'A", {0x00}},  // a byte above 127 is no blank, so this is a number
        {"0x4D 0x5A", {0x5A}},
        {"077,0115,77", {63, 77, 77}},
        {"'B,'M", {'B', 'M'}},
        {"0x47,0x49,0x46,0x38,?,61h", {0x47, 0x49, 0x46, 0x38, kAny, 0x61}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(Parse(row.value), row.expected);
    }
}

TEST(ParsePattern, ReportsTokensThatGiveNoElement) {
    std::vector<std::string> ignored;
    EXPECT_EQ(Parse(" 1, h,  0xFFFFFFFF ,,", &ignored), (std::vector<int>{1}));
    EXPECT_EQ(ignored, (std::vector<std::string>{"h", "0xFFFFFFFF "}));
}

TEST(ParsePattern, EmptiesTheTargetFirst) {
    PatternArray pattern;
    ParsePattern("1,2,3", pattern);
    ParsePattern("9", pattern);
    ASSERT_EQ(pattern.Count(), 1);
    EXPECT_EQ(static_cast<const PatternByte*>(pattern.At(0))->value, 9);
}

TEST(ParsePattern, WithoutMemoryLeavesNoPartialPattern) {
    PatternArray pattern;  // room for 150 elements
    std::string value;
    for (int i = 0; i < 200; ++i) value += "1,";
    MemSetFailureHook([](std::size_t) { return true; });
    const bool stored = ParsePattern(value.c_str(), pattern);
    MemSetFailureHook(nullptr);
    EXPECT_FALSE(stored);
    EXPECT_EQ(pattern.Count(), 0);
}

}  // namespace
