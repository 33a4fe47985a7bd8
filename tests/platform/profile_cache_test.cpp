// The parsed-file cache: one read per file while it stays unchanged, and a
// fresh read whenever a change could be visible. Plus the existence test.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "markhound/platform/platform.h"
#include "tests/platform/profile_folder.h"

namespace {

std::string Value(const std::string& path, const char* key = "k") {
    char buffer[261];
    PlatformProfileString("s", key, "", buffer, sizeof buffer, path.c_str());
    return buffer;
}

// Sets a file's modification time; an hour back is far from any recent write.
void SetModified(const std::string& native, time_t seconds, long nanoseconds) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, native.c_str(), times, 0), 0);
}

time_t AnHourAgo() { return time(nullptr) - 3600; }

TEST(ProfileCache, UnchangedStampServesTheEarlierParse) {
    ProfileFolder folder;
    const std::string path = folder.Write("c.ini", "[s]\nk=1\n");
    const time_t old = AnHourAgo();
    SetModified(folder.Native("c.ini"), old, 500);
    EXPECT_EQ(Value(path), "1");
    // Same size, same stamp, same inode: nothing shows the change, so the
    // file is not read again.
    folder.Write("c.ini", "[s]\nk=2\n");
    SetModified(folder.Native("c.ini"), old, 500);
    EXPECT_EQ(Value(path), "1");
}

TEST(ProfileCache, WithinABatchAFileIsReadOnce) {
    ProfileFolder folder;
    const std::string path = folder.Write("b.ini", "[s]\nk=1\n");
    PlatformBeginProfileBatch();
    EXPECT_EQ(Value(path), "1");
    folder.Write("b.ini", "[s]\nk=22\n");  // a change the batch does not look for
    EXPECT_EQ(Value(path), "1");
    PlatformEndProfileBatch();
    EXPECT_EQ(Value(path), "22");  // outside the batch the change is seen
    PlatformBeginProfileBatch();
    EXPECT_EQ(Value(path), "22");
    folder.Write("b.ini", "[s]\nk=333\n");
    PlatformEndProfileBatch();
    PlatformBeginProfileBatch();  // a new batch checks the file anew
    EXPECT_EQ(Value(path), "333");
    PlatformEndProfileBatch();
}

TEST(ProfileCache, ChangedFilesAreReadAgain) {
    struct Row {
        const char* change;
        std::string content;
        long nanoseconds;  // the rewritten file's stamp, behind the same second
        std::string expected;
    } rows[] = {
        {"same size, stamp a nanosecond later", "[s]\nk=2\n", 501, "2"},
        {"other size, same stamp", "[s]\nk=22\n", 500, "22"},
        {"shorter, same stamp", "[s]\nk=\n", 500, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.change);
        ProfileFolder folder;
        const std::string path = folder.Write("c.ini", "[s]\nk=1\n");
        const time_t old = AnHourAgo();
        SetModified(folder.Native("c.ini"), old, 500);
        EXPECT_EQ(Value(path), "1");
        folder.Write("c.ini", r.content);
        SetModified(folder.Native("c.ini"), old, r.nanoseconds);
        EXPECT_EQ(Value(path), r.expected);
    }
}

TEST(ProfileCache, ReplacedFileIsReadAgain) {
    ProfileFolder folder;
    const std::string path = folder.Write("c.ini", "[s]\nk=1\n");
    const time_t old = AnHourAgo();
    SetModified(folder.Native("c.ini"), old, 0);
    EXPECT_EQ(Value(path), "1");
    folder.Write("new.ini", "[s]\nk=2\n");
    SetModified(folder.Native("new.ini"), old, 0);
    ASSERT_EQ(std::rename(folder.Native("new.ini").c_str(), folder.Native("c.ini").c_str()), 0);
    EXPECT_EQ(Value(path), "2");
}

// A file written within the same stamp step as its earlier read cannot be
// told apart by size and stamp; recently changed files are compared by content.
TEST(ProfileCache, RewriteWithinOneStampStepIsSeen) {
    ProfileFolder folder;
    const std::string path = folder.Write("c.ini", "[s]\nk=1\n");
    struct stat first;
    ASSERT_EQ(stat(folder.Native("c.ini").c_str(), &first), 0);
    EXPECT_EQ(Value(path), "1");
    folder.Write("c.ini", "[s]\nk=2\n");
    SetModified(folder.Native("c.ini"), first.st_mtim.tv_sec, first.st_mtim.tv_nsec);
    EXPECT_EQ(Value(path), "2");
    folder.Write("c.ini", "[s]\nk=3\n");
    SetModified(folder.Native("c.ini"), first.st_mtim.tv_sec, first.st_mtim.tv_nsec);
    EXPECT_EQ(Value(path), "3");
}

TEST(ProfileCache, FilesReadInTurnKeepTheirOwnAnswers) {
    ProfileFolder folder;
    std::string paths[7];
    for (int i = 0; i < 7; ++i) {
        paths[i] = folder.Write("f" + std::to_string(i) + ".ini", "[s]\nk=" + std::to_string(i) + "\n");
        SetModified(folder.Native("f" + std::to_string(i) + ".ini"), AnHourAgo(), 0);
    }
    const int order[] = {0, 1, 0, 2, 3, 4, 5, 6, 0, 6, 1, 1, 5, 2};
    for (int i : order) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Value(paths[i]), std::to_string(i));
    }
}

TEST(ProfileCache, MissingFileReadsAsEmptyUntilItExists) {
    ProfileFolder folder;
    const std::string path = folder.DriveForm("late.ini");
    char names[16] = {'#', '#', '#'};
    EXPECT_EQ(PlatformProfileSectionNames(names, sizeof names, path.c_str()), 0u);
    EXPECT_EQ(names[0], '\0');
    EXPECT_EQ(Value(path), "");
    EXPECT_EQ(PlatformProfileInt("s", "k", 4, path.c_str()), 4u);
    folder.Write("late.ini", "[s]\nk=here\n");
    EXPECT_EQ(Value(path), "here");
    ASSERT_EQ(std::remove(folder.Native("late.ini").c_str()), 0);
    EXPECT_EQ(Value(path), "");
    EXPECT_EQ(PlatformProfileSectionNames(names, sizeof names, path.c_str()), 0u);
    EXPECT_EQ(names[0], '\0');
}

TEST(ProfileCache, FolderReadsAsMissingFile) {
    ProfileFolder folder;
    const std::string path = folder.DriveForm("");
    char names[16];
    EXPECT_EQ(PlatformProfileSectionNames(names, sizeof names, path.c_str()), 0u);
    EXPECT_EQ(names[0], '\0');
}

TEST(ProfilePaths, EveryDriveFormReachesTheFile) {
    ProfileFolder folder;
    const std::string path = folder.Write("p.ini", "[s]\nk=found\n");
    std::string slashes = path;
    for (char& c : slashes) c = c == '\\' ? '/' : c;
    const std::string forms[] = {path, slashes, "\\\\?\\" + path, "z" + path.substr(1)};
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        EXPECT_EQ(Value(form), "found");
    }
}

TEST(PlatformAccess, ZeroExactlyForExistingPaths) {
    ProfileFolder folder;
    const std::string file = folder.Write("there.ini", "x");
    std::string slashes = file;
    for (char& c : slashes) c = c == '\\' ? '/' : c;
    struct Row {
        std::string path;
        bool exists;
    } rows[] = {
        {file, true},
        {slashes, true},
        {"\\\\?\\" + file, true},
        {folder.DriveForm(""), true},
        {folder.DriveForm("absent.ini"), false},
        {folder.DriveForm("there.ini\\more"), false},
        {"", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(PlatformAccess(r.path.c_str(), 0) == 0, r.exists);
    }
}

}  // namespace
