// The profile reads on files: the line rules, the value and name-list
// buffers cut as Windows cuts them, and integer values.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "markhound/platform/platform.h"
#include "tests/platform/profile_cases.h"
#include "tests/platform/profile_folder.h"

namespace {

std::string ReadString(const std::string& path, const char* section, const char* key,
                       const char* default_value, uint32_t size, uint32_t* result) {
    std::vector<char> buffer(size + 8, '\x7F');
    *result = PlatformProfileString(section, key, default_value, buffer.data(), size, path.c_str());
    EXPECT_LE(*result + 1, size > 0 ? size : 1u);
    if (size == 0) return std::string();
    EXPECT_EQ(buffer[*result], '\0');
    for (std::size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '\x7F') << "past the buffer";
    return std::string(buffer.data(), *result);
}

TEST(ProfileLines, ValuesAsWindowsReadsThem) {
    ProfileFolder folder;
    int row = 0;
    for (const ValueCase& c : kValueCases) {
        SCOPED_TRACE(c.rule);
        const std::string path = folder.Write("rule" + std::to_string(row++) + ".ini", c.file);
        uint32_t result = 0;
        EXPECT_EQ(ReadString(path, c.section, c.key, "", 261, &result), c.expected);
        EXPECT_EQ(result, c.expected.size());
    }
}

TEST(ProfileLines, BinaryJunkReadsTheSameEveryTime) {
    ProfileFolder folder;
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) >> 3);
    const std::string path = folder.Write("junk.ini", junk + "\n[s]\nk=v");
    char first[1024];
    char second[1024];
    const uint32_t n1 = PlatformProfileSectionNames(first, sizeof first, path.c_str());
    folder.Write("junk.ini", junk + "\n[s]\nk=v");  // the same bytes, read again
    const uint32_t n2 = PlatformProfileSectionNames(second, sizeof second, path.c_str());
    ASSERT_EQ(n1, n2);
    EXPECT_EQ(std::memcmp(first, second, n1 + 1), 0);
    uint32_t result = 0;
    EXPECT_EQ(ReadString(path, "s", "k", "", 261, &result), "v");
}

TEST(ProfileValueBuffer, LongValuesAreCutToTheBuffer) {
    ProfileFolder folder;
    const std::string x300(300, 'x');
    const std::string x260(260, 'x');
    const std::string y298(298, 'y');
    const std::string path = folder.Write(
        "long.ini", "[s]\nlong=" + x300 + "\nfits=" + x260 + "\none=" + x260 + "x\nquoted='" +
                        y298 + "'\nshort=abc\n");
    struct Row {
        const char* key;
        uint32_t size;
        std::string expected;
    } rows[] = {
        {"long", 261, x260},
        {"fits", 261, x260},
        {"one", 261, x260},
        {"long", 260, std::string(259, 'x')},
        {"quoted", 261, std::string(260, 'y')},
        {"short", 4, "abc"},
        {"short", 3, "ab"},
        {"short", 1, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.key) + " in " + std::to_string(r.size));
        uint32_t result = 0;
        EXPECT_EQ(ReadString(path, "s", r.key, "", r.size, &result), r.expected);
        EXPECT_EQ(result, r.expected.size());
    }
}

TEST(ProfileValueBuffer, ZeroSizeWritesNothing) {
    ProfileFolder folder;
    const std::string path = folder.Write("z.ini", "[s]\nk=v\n");
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(PlatformProfileString("s", "k", "", buffer, 0, path.c_str()), 0u);
    EXPECT_EQ(buffer[0], '#');
}

TEST(ProfileDefault, GivenWithoutTrailingSpacesAndQuotes) {
    ProfileFolder folder;
    const std::string path = folder.Write("d.ini", "[s]\nk=v\nbare\n");
    const std::string missing = folder.DriveForm("missing.ini");
    struct Row {
        const std::string* file;
        const char* key;
        const char* default_value;
        uint32_t size;
        std::string expected;
    } rows[] = {
        {&path, "absent", "dflt", 261, "dflt"},
        {&path, "absent", "dflt  ", 261, "dflt"},
        {&path, "absent", "  dflt \t", 261, "  dflt \t"},
        {&path, "absent", "'dq'", 261, "dq"},
        {&path, "absent", "\"dq\"", 261, "dq"},
        {&path, "absent", "dflt", 3, "df"},
        {&path, "absent", nullptr, 261, ""},
        {&path, "bare", "dflt", 261, "dflt"},
        {&missing, "k", "'mq'  ", 261, "mq"},
        {&missing, "k", "", 261, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.key) + " default " + (r.default_value ? r.default_value : "null"));
        uint32_t result = 0;
        EXPECT_EQ(ReadString(*r.file, "s", r.key, r.default_value, r.size, &result), r.expected);
        EXPECT_EQ(result, r.expected.size());
    }
}

TEST(ProfileSectionList, CutAsWindowsCutsIt) {
    ProfileFolder folder;
    const std::string path = folder.Write("names.ini", kNamesFile);
    for (const NamesCase& c : kNamesCases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        std::vector<char> buffer(c.size + 8, '\x7F');
        EXPECT_EQ(PlatformProfileSectionNames(buffer.data(), c.size, path.c_str()), c.result);
        EXPECT_EQ(std::string(buffer.data(), c.list.size()), c.list);
        // A cut list ends with two NULs in the buffer's last bytes (Windows
        // from Server 2003 on; Wine leaves the last byte alone).
        if (c.cut && c.size >= 2) {
            EXPECT_EQ(buffer[c.size - 1], '\0');
            EXPECT_EQ(buffer[c.size - 2], '\0');
        }
        for (std::size_t i = c.size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '\x7F');
    }
}

TEST(ProfileSectionList, ListsEveryHeaderInFileOrder) {
    ProfileFolder folder;
    struct Row {
        const char* what;
        std::string file;
        std::string list;
    } rows[] = {
        {"repeated names", "[dup]\n[x]\n[DUP]\n", "dup\0x\0DUP\0\0"s},
        {"empty names left out", "[ab]\n[]\n[ ]\n[cd]\n", "ab\0cd\0\0"s},
        {"no header", "k=v\n;[c]\n[x\n", "\0"s},
        {"empty file", "", "\0"s},
        {"names as written", "pre=1\n[ spaced ]\n[a]b]\n\t[tab]\t\n[last] junk\n[;off]",
         "spaced\0a]b\0tab\0last\0;off\0\0"s},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string path = folder.Write(std::string(r.what) + ".ini", r.file);
        char buffer[64];
        std::memset(buffer, 0x7F, sizeof buffer);
        EXPECT_EQ(PlatformProfileSectionNames(buffer, sizeof buffer, path.c_str()), r.list.size() - 1);
        EXPECT_EQ(std::string(buffer, r.list.size()), r.list);
    }
}

// The loader's block: 1024 bytes. With names of 9 characters, 102 fit whole
// and the 103rd is cut to what is left: 2 characters, its NUL and the
// closing NUL. No section has that cut name, so it reads as nothing.
TEST(ProfileSectionList, LoaderBlockHolds102NamesOfNineCharacters) {
    ProfileFolder folder;
    std::string file;
    for (int i = 0; i < 110; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "[sect%05d]\n", i);
        file += name;
    }
    const std::string path = folder.Write("block.ini", file);
    char block[1024];
    EXPECT_EQ(PlatformProfileSectionNames(block, sizeof block, path.c_str()), 1022u);
    for (int i = 0; i < 102; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "sect%05d", i);
        ASSERT_STREQ(block + i * 10, name);
    }
    EXPECT_EQ(std::string(block + 1020, 4), "se\0\0"s);
}

TEST(ProfileInt, ReadAsWindowsReadsIntegers) {
    ProfileFolder folder;
    std::string file = "[i]\n";
    for (std::size_t i = 0; i < std::size(kIntCases); ++i)
        file += "k" + std::to_string(i) + "=" + kIntCases[i].value + "\n";
    const std::string path = folder.Write("ints.ini", file);
    for (std::size_t i = 0; i < std::size(kIntCases); ++i) {
        const IntCase& c = kIntCases[i];
        SCOPED_TRACE(std::string("value ") + c.value);
        const std::string key = "k" + std::to_string(i);
        EXPECT_EQ(PlatformProfileInt("i", key.c_str(), c.default_value, path.c_str()), c.expected);
    }
}

TEST(ProfileInt, AbsentKeySectionOrFileGivesTheDefault) {
    ProfileFolder folder;
    const std::string path = folder.Write("i.ini", "[i]\nk=5\nbare\n");
    const std::string missing = folder.DriveForm("missing.ini");
    EXPECT_EQ(PlatformProfileInt("i", "k", 9, path.c_str()), 5u);
    EXPECT_EQ(PlatformProfileInt("i", "absent", 9, path.c_str()), 9u);
    EXPECT_EQ(PlatformProfileInt("i", "bare", 9, path.c_str()), 9u);
    EXPECT_EQ(PlatformProfileInt("other", "k", -2, path.c_str()), 0xFFFFFFFEu);
    EXPECT_EQ(PlatformProfileInt("i", "k", 9, missing.c_str()), 9u);
}

}  // namespace
