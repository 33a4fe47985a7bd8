// Files written whole or not at all.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/report/extract.h"
#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

namespace fs = std::filesystem;

TEST(AtomicWrite, WritesTheBytesAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::vector<uint8_t> bytes = {0, 1, 2, 0xFF, 'x'};
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir.path() + "/item.bin", bytes.data(), bytes.size(), &error)) << error;
    EXPECT_EQ(ReadBytes(dir.path() + "/item.bin"), bytes);
    EXPECT_EQ(FilesBelow(dir.path()), (std::vector<std::string>{"item.bin"}));
    EXPECT_EQ(fs::status(dir.path() + "/item.bin").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST(AtomicWrite, EmptyFileAndReplacingAnOldOne) {
    TempDir dir;
    const std::string path = dir.Write("old.bin", "old content");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, nullptr, 0, &error)) << error;
    EXPECT_TRUE(ReadBytes(path).empty());
    EXPECT_EQ(FilesBelow(dir.path()), (std::vector<std::string>{"old.bin"}));
}

TEST(AtomicWrite, FailureLeavesNothingAndSaysWhy) {
    TempDir dir;
    const uint8_t byte = 1;
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/missing/item.bin", &byte, 1, &error));
    EXPECT_NE(error.find("cannot write '"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_TRUE(FilesBelow(dir.path()).empty());
}

TEST(AtomicWrite, TargetThatIsAFolderIsLeftAloneAndTheTemporaryRemoved) {
    TempDir dir;
    fs::create_directories(dir.path() + "/taken/inner");
    const uint8_t byte = 1;
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/taken", &byte, 1, &error));
    EXPECT_TRUE(fs::is_directory(dir.path() + "/taken/inner"));
    EXPECT_TRUE(FilesBelow(dir.path()).empty());
}

}  // namespace
