// Number reader: digit lookup, reading digits from the end in every base,
// 32-bit wrap-around, the prefix/suffix/apostrophe forms and the platform's
// one-character upper-case conversion that digit reading relies on.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "markhound/platform/platform.h"
#include "markhound/support/numbers.h"

namespace {

TEST(DigitLookup, CharIndexHonoursTheLimit) {
    struct Row {
        const char* alphabet;
        char c;
        int32_t limit;
        int32_t expected;
    };
    const Row rows[] = {
        {kDigitAlphabet, 'H', 16, -1}, {kDigitAlphabet, 'H', -1, 17}, {kDigitAlphabet, 'F', 16, 15},
        {kDigitAlphabet, 'G', 16, -1}, {kDigitAlphabet, 'G', 17, 16}, {kDigitAlphabet, '0', 0, -1},
        {kDigitAlphabet, '0', 1, 0},   {kDigitAlphabet, 'Z', 36, 35}, {kDigitAlphabet, 'Z', 100, 35},
        {kDigitAlphabet, 'a', -1, -1}, {kDigitAlphabet, '\0', -1, -1}, {"", 'a', -1, -1},
        {nullptr, 'a', -1, -1},        {"abca", 'a', -1, 0},          {"xyz", 'z', 2, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(1, row.c) + " limit " + std::to_string(row.limit));
        EXPECT_EQ(CharIndex(row.alphabet, row.c, row.limit), row.expected);
    }
}

TEST(DigitLookup, AlphabetIsTheThirtySixDigits) {
    EXPECT_STREQ(kDigitAlphabet, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST(BaseReading, DigitsAtTheEndInEveryBase) {
    struct Row {
        const char* s;
        int32_t base;
        int32_t expected;
    };
    const Row rows[] = {
        {"101", 2, 5},
        {"1001101", 2, 77},
        {"2", 2, 0},          // last character no digit of the base
        {"777", 8, 511},
        {"115", 8, 77},
        {"8", 8, 0},
        {"77", 10, 77},
        {"4d", 16, 77},
        {"4D", 16, 77},
        {"ff", 16, 255},
        {"FF", 10, 0},
        {"zz", 36, 1295},
        {"Zz", 36, 1295},
        {"-5", 10, 5},        // no sign: the minus stops the reading
        {"12-34", 10, 34},
        {"x5A", 16, 90},
        {"12  ", 10, 12},     // spaces at the end are passed over
        {"  12", 10, 12},
        {"5\t", 10, 0},       // only code 0x20 counts as a space
        {"\t5", 10, 5},
        {"   ", 10, -1},
        {"", 10, -1},
        {nullptr, 10, -1},
        {"9", 0, 0},          // base 0 has no digits
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.s ? row.s : "(null)") + " base " + std::to_string(row.base));
        EXPECT_EQ(ParseInBase(row.s, row.base), row.expected);
    }
}

TEST(BaseReading, ArithmeticWrapsAroundAt32Bits) {
    struct Row {
        const char* s;
        int32_t base;
        int32_t expected;
    };
    const Row rows[] = {
        {"7fffffff", 16, 2147483647},
        {"ffffffff", 16, -1},
        {"80000000", 16, INT32_MIN},
        {"100000000", 16, 0},
        {"1ffffffff", 16, -1},
        {"4294967297", 10, 1},
        {"2147483648", 10, INT32_MIN},
        {"11111111111111111111111111111111", 2, -1},
        {"99999999999", 10, 1215752191},
        {"YYYYYYYYYYYY", 36, 1090039690},
        {"ZZZZZZZZZZZZZZZZZZZZ", 36, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.s);
        EXPECT_EQ(ParseInBase(row.s, row.base), row.expected);
    }
}

TEST(NumberForms, PrefixSuffixOctalAndApostrophe) {
    struct Row {
        const char* s;
        int32_t base;
        int32_t expected;
    };
    const Row rows[] = {
        {"0x4D", 10, 77},
        {"0X4D", 10, 77},
        {"4Dh", 10, 77},
        {"4dh", 10, 77},
        {"4DH", 10, 77},
        {"1001101b", 10, 77},
        {"1001101B", 10, 77},
        {"0115", 10, 77},
        {"77", 10, 77},
        {"-5", 10, 5},
        {"FF", 10, 0},        // F is no decimal digit
        {"09", 10, 0},        // 9 is no octal digit
        {"0x4D 0x5A", 10, 90},  // only the last number counts
        {"   ", 10, -1},
        {"h", 10, -1},
        {"H", 10, -1},
        {"b", 10, -1},
        {"B", 10, -1},
        {"", 10, 0},
        {nullptr, 10, 0},
        {"0x1B", 10, 27},     // the prefix rule comes before the suffix rule
        {"0x", 10, 0},
        {"0", 10, 0},
        {"0h", 10, 0},
        {"1Bh", 10, 27},
        {"11b ", 10, 0},      // a blank after the suffix: an ordinary character
        {"2b", 10, 0},        // 2 is no binary digit
        {"'A'", 10, 65},
        {"'AB'", 10, 65},     // the second character counts
        {"'0'", 10, 48},
        {"''", 10, 39},
        {"'", 10, 0},         // a lone apostrophe gives its terminator
        {"'\xE9'", 10, -23},  // signed 8-bit
        {"'A", 10, 0},        // no closing apostrophe: read in the base
        {"77", 16, 119},
        {"z", 36, 35},
        {"10", 2, 2},
        {"4D", 10, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.s ? row.s : "(null)");
        EXPECT_EQ(ParseNumber(row.s, row.base), row.expected);
    }
}

TEST(CharUpper, Code1252LettersOnly) {
    for (int c = 'a'; c <= 'z'; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(PlatformCharUpper(static_cast<char>(c)), static_cast<char>(c - 'a' + 'A'));
        EXPECT_EQ(PlatformCharUpper(static_cast<char>(c - 'a' + 'A')), static_cast<char>(c - 'a' + 'A'));
    }
    for (int c = '0'; c <= '9'; ++c) EXPECT_EQ(PlatformCharUpper(static_cast<char>(c)), c);
    struct Row {
        unsigned char in;
        unsigned char out;
    };
    const Row rows[] = {
        {0xE9, 0xC9}, {0xE0, 0xC0}, {0xFE, 0xDE}, {0xF7, 0xF7}, {0xFF, 0x9F}, {0xB5, 0xB5},
        {0x9A, 0x8A}, {0xC9, 0xC9}, {'@', '@'},   {'[', '['},   {'{', '{'},   {'`', '`'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.in));
        EXPECT_EQ(static_cast<unsigned char>(PlatformCharUpper(static_cast<char>(row.in))), row.out);
    }
}

}  // namespace
