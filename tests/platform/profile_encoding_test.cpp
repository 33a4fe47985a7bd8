// Signature files in a Unicode form: the conversion to code page 1252 that
// the Windows profile functions make, and names that lose a character in it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "markhound/platform/profile_file.h"

using namespace std::string_literals;

namespace {

struct Converted {
    std::string text;
    std::vector<size_t> substitutes;  // positions of "?" that stand for a lost character
};

Converted Convert(const std::string& bytes) {
    std::vector<char> out(bytes.size() + 1, '\x7F');
    std::vector<uint8_t> lossy(bytes.size() / 8 + 1, 0);
    const size_t n = ToAnsiText(bytes.data(), bytes.size(), out.data(), lossy.data());
    Converted result{std::string(out.data(), n), {}};
    for (size_t i = 0; i < n; ++i) {
        if (lossy[i / 8] & (1u << (i % 8))) result.substitutes.push_back(i);
    }
    return result;
}

TEST(UnicodeProfileText, ConvertsToCodePage1252ByTable) {
    struct Row {
        const char* what;
        std::string bytes;
        std::string text;
        std::vector<size_t> substitutes;
    };
    const Row rows[] = {
        {"UTF-8 mark alone", "\xEF\xBB\xBF", "", {}},
        {"UTF-8 ASCII", "\xEF\xBB\xBF[a]\r\nk=v", "[a]\r\nk=v", {}},
        {"UTF-8 Latin-1 letter", "\xEF\xBB\xBF\xC3\xA9", "\xE9", {}},
        {"UTF-8 euro, quote, S caron, Y diaeresis",
         "\xEF\xBB\xBF\xE2\x82\xAC\xE2\x80\x9C\xC5\xA0\xC5\xB8", "\x80\x93\x8A\x9F", {}},
        {"UTF-8 letter the code page lacks", "\xEF\xBB\xBFx\xD0\x94x", "x?x", {1}},
        {"UTF-8 beyond U+FFFF is two units", "\xEF\xBB\xBF\xF0\x9F\x98\x80", "??", {0, 1}},
        {"UTF-8 C1 control U+0080 is lacking, U+0081 is kept", "\xEF\xBB\xBF\xC2\x80\xC2\x81",
         "?\x81", {0}},
        {"UTF-8 lead byte before an ASCII letter", "\xEF\xBB\xBF\xC3x", "?x", {0}},
        {"UTF-8 lone continuation byte", "\xEF\xBB\xBF\x80x", "?x", {0}},
        {"UTF-8 encoded surrogate: lead and first byte, then the last", "\xEF\xBB\xBF\xED\xA0\x80",
         "??", {0, 1}},
        {"UTF-8 overlong form", "\xEF\xBB\xBF\xE0\x80\xAF", "??", {0, 1}},
        {"UTF-8 above U+10FFFF keeps the byte that passes it",
         "\xEF\xBB\xBF\xF4\x90\x80\x80", "???", {0, 1, 2}},
        {"UTF-8 sequence cut by the end of the text", "\xEF\xBB\xBF" "a\xE2\x82", "a?", {1}},
        {"UTF-16LE", "\xFF\xFE[\0a\0]\0\xE9\0\xAC\x20"s, "[a]\xE9\x80", {}},
        {"UTF-16BE", "\xFE\xFF\0[\0a\0]\x20\xAC"s, "[a]\x80", {}},
        {"UTF-16 lone surrogate", "\xFF\xFEx\0\x00\xD8y\0"s, "x?y", {1}},
        {"UTF-16LE odd last byte: its other byte taken as zero", "\xFF\xFE" "a\0b"s, "ab", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(HasUnicodeMark(row.bytes.data(), row.bytes.size()));
        const Converted converted = Convert(row.bytes);
        EXPECT_EQ(converted.text, row.text);
        EXPECT_EQ(converted.substitutes, row.substitutes);
    }
}

TEST(UnicodeProfileText, OnlyAWholeMarkMakesUnicodeText) {
    const std::string texts[] = {"", "\xEF\xBB", "\xFF", "\xFE", "[a]", "\xEF\xBB\xBE", "\xFF\xFF"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(HasUnicodeMark(text.data(), text.size()));
    }
}

std::string Value(const ProfileFile& file, const char* section, const char* key) {
    char buffer[64];
    ProfileString(&file, section, key, "-", buffer, sizeof buffer);
    return buffer;
}

TEST(UnicodeProfileText, NameThatLostACharacterIsListedButNeverFound) {
    // [A→] then [A?]: Windows compares the Unicode names, so a query "A?"
    // finds the second section, and the first one's keys are out of reach.
    const std::string bytes =
        "\xEF\xBB\xBF[A\xE2\x86\x92]\nk=first\n[A?]\nk=second\nx\xD0\x94=lost\ny=\xD0\x94\n";
    ProfileFile file;
    ASSERT_TRUE(file.Parse(bytes.data(), bytes.size()));
    char list[32];
    ProfileSectionNames(&file, list, sizeof list);
    EXPECT_EQ(std::string(list, 7), "A?\0A?\0\0"s);
    EXPECT_EQ(Value(file, "A?", "k"), "second");
    EXPECT_EQ(Value(file, "A?", "x?"), "-");
    EXPECT_EQ(Value(file, "A?", "y"), "?");
    EXPECT_TRUE(file.HoldsText(bytes.data(), bytes.size()));
}

TEST(UnicodeProfileText, AnsiFileKeepsEveryByte) {
    const std::string bytes = "[Caf\xC3\xA9]\nExt=\xC3\xA9\n";
    ProfileFile file;
    ASSERT_TRUE(file.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(Value(file, "Caf\xC3\xA9", "Ext"), "\xC3\xA9");
    EXPECT_TRUE(file.HoldsText(bytes.data(), bytes.size()));
}

}  // namespace
