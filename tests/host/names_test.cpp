// Names of extracted files and texts made safe to print.
#include <gtest/gtest.h>

#include "host/base/names.h"

namespace {

TEST(SafeNames, ExtensionKeepsOnlySafeCharacters) {
    const struct {
        std::string_view input;
        std::string expected;
    } rows[] = {
        {"jpg", "jpg"},
        {"tar-gz_2", "tar-gz_2"},
        {"", "bin"},
        {"../../x", "______x"},
        {"..", "__"},
        {"a/b", "a_b"},
        {"a\\b", "a_b"},
        {"x.y", "x_y"},
        {"\x01\x7F\xFF", "___"},
        {std::string_view("j\0p", 3), "j_p"},
        {"abcdefghijklmnopqrstuvwxyz", "abcdefghijklmnop"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.input));
        EXPECT_EQ(SafeExtension(row.input), row.expected);
    }
}

TEST(SafeNames, StemIsTheFileNamePartMadeSafe) {
    const struct {
        std::string input;
        std::string expected;
    } rows[] = {
        {"disk.img", "disk.img"},
        {"/data/case 7/disk.img", "disk.img"},
        {"../up/x.bin", "x.bin"},
        {"dir/", "input"},
        {"a b;c", "a_b_c"},
        {"..", ".."},
        {std::string(300, 'a'), std::string(kMaxStem, 'a')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(SafeStem(row.input), row.expected);
    }
}

TEST(SafeNames, ItemFileNameHasSixteenHexDigits) {
    EXPECT_EQ(ItemFileName("disk.img", 0x1000, "jpg"), "disk.img-0000000000001000.jpg");
    EXPECT_EQ(ItemFileName("x", 0x100000000ull, "bin"), "x-0000000100000000.bin");
    EXPECT_EQ(ItemFileName("x", ~uint64_t{0}, "b"), "x-ffffffffffffffff.b");
}

TEST(SafeNames, NoExtensionOrStemLeavesItsFolder) {
    for (const char* hostile : {"../../etc/passwd", "/abs", "..", ".", "a/../../b", "~"}) {
        SCOPED_TRACE(hostile);
        const std::string ext = SafeExtension(hostile);
        const std::string name = ItemFileName(SafeStem(hostile), 0, ext);
        EXPECT_EQ(ext.find('/'), std::string::npos);
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_NE(ext, "..");
        EXPECT_NE(ext, ".");
    }
}

TEST(Texts, ValidUtf8KeepsWellFormedSequencesAndReplacesTheRest) {
    const struct {
        std::string input;
        std::string expected;
    } rows[] = {
        {"plain", "plain"},
        {"gr\xC3\xB6\xC3\x9F" "e", "gr\xC3\xB6\xC3\x9F" "e"},
        {"\xF0\x9F\x90\xBE", "\xF0\x9F\x90\xBE"},
        {"Gr\xF6\xDF" "e", "Gr\xEF\xBF\xBD\xEF\xBF\xBD" "e"},   // ANSI bytes
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                // overlong '/'
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},                // cut short
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // > U+10FFFF
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(ValidUtf8(row.input), row.expected);
        EXPECT_EQ(IsValidUtf8(row.input), row.input == row.expected);
        // The bytes, whatever they are, come back from their hexadecimal form.
        std::string bytes;
        EXPECT_TRUE(FromHex(HexBytes(row.input), &bytes));
        EXPECT_EQ(bytes, row.input);
    }
    EXPECT_EQ(HexBytes("o\xFF/"), "6fff2f");
    std::string bytes = "kept";
    for (const char* bad : {"6", "6g", "zz"}) EXPECT_FALSE(FromHex(bad, &bytes)) << bad;
    EXPECT_EQ(bytes, "kept");
}

TEST(Texts, PrintableReplacesControlCharacters) {
    EXPECT_EQ(Printable("a\nb\tc\x1B[31m"), "a?b?c?[31m");
    EXPECT_EQ(Printable("del\x7F"), "del?");
    EXPECT_EQ(Printable("csi\xC2\x9B"), "csi?");  // U+009B, a C1 control
    EXPECT_EQ(Printable("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Quoted("a'b\n"), "'a'b?'");
}

}  // namespace
