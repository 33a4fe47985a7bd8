// Path helpers: absolute-path test, folder and file parts with their two
// result buffers, joining, and the 260-character limits (exact-size buffers,
// so that an overflow shows under ASan).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "markhound/support/paths.h"

namespace {

TEST(AbsolutePath, DriveNetworkAndLongForms) {
    struct Row {
        const char* path;
        int expected;
    };
    const Row rows[] = {
        {"D:\\dir", 1},
        {"D:\\", 1},
        {"?:\\x", 1},                 // any first character
        {"\\\\server\\share", 1},
        {"\\\\", 1},
        {"\\\\?\\D:\\dir", 1},
        {"\\\\?\\UNC\\server\\share", 1},
        {"\\\\?\\unc\\server\\share", 1},
        {"\\\\?\\dir", 0},
        {"\\\\?\\D:dir", 0},
        {"\\dir", 0},
        {"D:dir", 0},
        {"D:/dir", 0},
        {"D:", 0},
        {"dir\\x", 0},
        {"/opt/x", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path ? row.path : "(null)");
        EXPECT_EQ(IsAbsolutePath(row.path), row.expected);
    }
}

TEST(TrailingChar, AddedOnlyWhenMissing) {
    struct Row {
        const char* text;
        char c;
        const char* expected;
    };
    const Row rows[] = {
        {"", '\\', ""}, {"D:\\a", '\\', "D:\\a\\"}, {"D:\\a\\", '\\', "D:\\a\\"},
        {"a", '/', "a/"}, {"a/", '/', "a/"},       {"a\\", '/', "a\\/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        char buffer[16];
        std::strcpy(buffer, row.text);
        EXPECT_EQ(AddTrailingChar(buffer, row.c), buffer);
        EXPECT_STREQ(buffer, row.expected);

        String with = WithTrailingChar(String(row.text), row.c);
        EXPECT_STREQ(with.Text(), row.expected);
    }
}

TEST(TrailingChar, HighByteSeparatorIsComparedAsAByte) {
    const char sep = static_cast<char>(0xA5);
    const char text[] = {'a', static_cast<char>(0xA5), '\0'};
    EXPECT_STREQ(WithTrailingChar(String(text), sep).Text(), text);
}

TEST(TrailingChar, FillsA261ByteBufferExactly) {
    std::unique_ptr<char[]> buffer(new char[kPathBufferSize]);
    std::memset(buffer.get(), 'd', 259);
    buffer[259] = '\0';
    AddTrailingChar(buffer.get(), '\\');
    EXPECT_EQ(std::strlen(buffer.get()), 260u);
    EXPECT_EQ(buffer[259], '\\');
}

TEST(PathParts, FolderAndFileParts) {
    struct Row {
        const char* path;
        char sep;
        const char* dir;
        const char* file;
    };
    const Row rows[] = {
        {"D:\\a\\b.ini", '\\', "D:\\a\\", "b.ini"},
        {"D:\\b.ini", '\\', "D:\\", "b.ini"},
        {"b.ini", '\\', "", "b.ini"},
        {"D:\\a\\", '\\', "D:\\a\\", ""},
        {"\\x", '\\', "", "x"},
        {"a\\\\b", '\\', "a\\", "b"},     // the cut text already ends with a backslash
        {"a/b/c.ini", '/', "a/b\\", "c.ini"},  // DirPart always appends a backslash
        {"a\\b", '/', "", "a\\b"},
        {"", '\\', "", ""},
        {nullptr, '\\', "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path ? row.path : "(null)");
        EXPECT_STREQ(DirPart(row.path, row.sep), row.dir);
        EXPECT_STREQ(FilePart(row.path, row.sep), row.file);
    }
}

TEST(PathParts, EachFunctionOverwritesOnlyItsOwnBuffer) {
    const char* dir = DirPart("C:\\one\\first.ini", '\\');
    const char* file = FilePart("C:\\one\\first.ini", '\\');
    EXPECT_NE(dir, file);
    const char* dir2 = DirPart("E:\\two\\second.ini", '\\');
    EXPECT_EQ(dir2, dir);  // the same buffer, overwritten
    EXPECT_STREQ(dir, "E:\\two\\");
    EXPECT_STREQ(file, "first.ini");
    const char* file2 = FilePart("E:\\two\\second.ini", '\\');
    EXPECT_EQ(file2, file);
    EXPECT_STREQ(file, "second.ini");
    EXPECT_STREQ(dir, "E:\\two\\");
}

TEST(PathParts, LongPathsStayWithin260Characters) {
    // A separator at index 259 is the last one that the copy keeps.
    std::string path(259, 'x');
    path += '\\';
    path += std::string(40, 'y');
    path += '\\';
    path += "tail.ini";
    ASSERT_GT(path.size(), 300u);
    const std::string dir = DirPart(path.c_str(), '\\');
    EXPECT_EQ(dir.size(), 260u);
    EXPECT_EQ(dir, path.substr(0, 260));

    // No separator among the first 260 characters: nothing is left.
    std::string far(280, 'x');
    far += "\\f.ini";
    EXPECT_STREQ(DirPart(far.c_str(), '\\'), "");
    // FilePart looks at the whole path, then cuts its result.
    EXPECT_STREQ(FilePart(far.c_str(), '\\'), "f.ini");
    const std::string long_name(299, 'n');
    const std::string file = FilePart(("D:\\" + long_name).c_str(), '\\');
    EXPECT_EQ(file, long_name.substr(0, 260));
    EXPECT_EQ(std::string(FilePart(long_name.c_str(), '\\')), long_name.substr(0, 260));

    const std::string plain(300, 'p');
    EXPECT_STREQ(DirPart(plain.c_str(), '\\'), "");
}

TEST(PathJoin, ExactlyOneSeparatorBetween) {
    struct Row {
        const char* dir;
        const char* name;
        char sep;
        const char* expected;
    };
    const Row rows[] = {
        {"D:\\a", "x.ini", '\\', "D:\\a\\x.ini"},
        {"D:\\a\\", "x.ini", '\\', "D:\\a\\x.ini"},
        {"D:\\a", "\\\\x.ini", '\\', "D:\\a\\x.ini"},
        {"", "x.ini", '\\', "x.ini"},
        {"", "\\x.ini", '\\', "x.ini"},
        {nullptr, "x.ini", '\\', "x.ini"},
        {"D:\\a", nullptr, '\\', "D:\\a\\"},
        {"D:\\a", "", '\\', "D:\\a\\"},
        {nullptr, nullptr, '\\', ""},
        {"D:\\a", "sub\\x.ini\\", '\\', "D:\\a\\sub\\x.ini\\"},  // other separators kept
        {"a/b", "/c", '/', "a/b/c"},
        {"a\\\\", "x", '\\', "a\\\\x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.dir ? row.dir : "(null)") + " + " +
                     (row.name ? row.name : "(null)"));
        String joined = JoinPath(row.dir, row.name, row.sep);
        EXPECT_STREQ(joined.Text(), row.expected);
        EXPECT_EQ(joined.Length(), static_cast<int32_t>(std::strlen(row.expected)));
    }
}

TEST(PathJoin, LongPartsAreKeptWhole) {
    const std::string dir = "D:\\" + std::string(300, 'd');
    const std::string name(400, 'n');
    String joined = JoinPath(dir.c_str(), name.c_str(), '\\');
    EXPECT_EQ(std::string(joined.Text()), dir + "\\" + name);
    EXPECT_EQ(joined.Length(), static_cast<int32_t>(dir.size() + 1 + name.size()));
}

}  // namespace
