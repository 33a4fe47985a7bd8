// The parser on its own: running out of memory, null arguments, and a large
// file read whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "markhound/platform/platform.h"
#include "markhound/platform/profile_file.h"
#include "markhound/support/memory.h"
#include "tests/platform/profile_folder.h"

using namespace std::string_literals;

namespace {

const char kSmall[] = "pre=0\n[a]\nk=1\nj=2\n[b]\nk=3\n";

struct SectionNamesOf {
    explicit SectionNamesOf(const ProfileFile* file) {
        result = ProfileSectionNames(file, list, sizeof list);
    }
    char list[64];
    uint32_t result;
};

// Refuses the n-th allocation from now on (counting from 1) and every later one.
int g_allowed = 0;
bool RefuseAfterAllowance(std::size_t) { return g_allowed-- <= 0; }

class RefusedAllocations {
public:
    explicit RefusedAllocations(int allowed) {
        g_allowed = allowed;
        MemSetFailureHook(RefuseAfterAllowance);
    }
    ~RefusedAllocations() { MemSetFailureHook(nullptr); }
};

TEST(ProfileFileMemory, EveryRefusedAllocationLeavesAnEmptyFile) {
    for (int allowed = 0; allowed < 6; ++allowed) {
        SCOPED_TRACE(allowed);
        ProfileFile file;
        bool parsed;
        {
            RefusedAllocations refuse(allowed);
            parsed = file.Parse(kSmall, std::strlen(kSmall));
        }
        SectionNamesOf names(&file);
        char value[8];
        const uint32_t copied = ProfileString(&file, "a", "k", "", value, sizeof value);
        if (parsed) {
            EXPECT_EQ(std::string(names.list, 5), "a\0b\0\0"s);
            EXPECT_STREQ(value, "1");
        } else {
            EXPECT_EQ(file.SectionCount(), 0);
            EXPECT_EQ(names.result, 0u);
            EXPECT_EQ(names.list[0], '\0');
            EXPECT_EQ(copied, 0u);
        }
    }
}

TEST(ProfileFileMemory, PlatformReadsWithoutMemoryAnswerAsForAMissingFile) {
    ProfileFolder folder;
    const std::string path = folder.Write("m.ini", kSmall);
    for (int allowed = 0; allowed < 6; ++allowed) {
        SCOPED_TRACE(allowed);
        folder.Write("m.ini", std::string(kSmall) + std::string(allowed + 1, '\n'));
        char value[8];
        uint32_t copied;
        {
            RefusedAllocations refuse(allowed);
            copied = PlatformProfileString("b", "k", "dflt", value, sizeof value, path.c_str());
        }
        EXPECT_TRUE(std::string(value) == "3" || std::string(value) == "dflt") << value;
        EXPECT_EQ(copied, std::strlen(value));
        EXPECT_EQ(PlatformProfileInt("b", "k", 0, path.c_str()), 3u);  // memory is back
    }
}

TEST(ProfileFileAnswers, NullArgumentsGiveEmptyOrDefaultAnswers) {
    ProfileFile file;
    ASSERT_TRUE(file.Parse(kSmall, std::strlen(kSmall)));
    char value[8] = "#";
    EXPECT_EQ(ProfileString(&file, nullptr, "k", "d", value, sizeof value), 1u);
    EXPECT_STREQ(value, "d");
    EXPECT_EQ(ProfileString(&file, "a", nullptr, "d", value, sizeof value), 1u);
    EXPECT_EQ(ProfileString(&file, "a", "k", "d", nullptr, 8), 0u);
    EXPECT_EQ(ProfileString(nullptr, "a", "k", "d", value, sizeof value), 1u);
    EXPECT_EQ(ProfileSectionNames(&file, nullptr, 8), 0u);
    EXPECT_EQ(ProfileInt(nullptr, "a", "k", 6), 6u);
    EXPECT_EQ(ProfileInt(&file, "a", "j", 6), 2u);
}

TEST(ProfileFileText, HoldsExactlyTheParsedBytes) {
    ProfileFile file;
    ASSERT_TRUE(file.Parse(kSmall, std::strlen(kSmall)));
    EXPECT_TRUE(file.HoldsText(kSmall, std::strlen(kSmall)));
    EXPECT_FALSE(file.HoldsText(kSmall, std::strlen(kSmall) - 1));
    std::string changed = kSmall;
    changed[12] = '9';
    EXPECT_FALSE(file.HoldsText(changed.data(), changed.size()));
    ASSERT_TRUE(file.Parse("", 0));
    EXPECT_TRUE(file.HoldsText(nullptr, 0));
    EXPECT_EQ(file.SectionCount(), 1);  // the unnamed section alone
}

// 100,000 sections in about 20 MB, read through the platform layer: every
// section reachable, the first of a repeated name found, the loader's block
// filled from the start.
TEST(ProfileFileLarge, HundredThousandSectionsInTwentyMegabytes) {
    ProfileFolder folder;
    const int kSections = 100000;
    const std::string padding = "pad=" + std::string(190, 'p') + "\n";
    std::string text;
    text.reserve(static_cast<std::size_t>(kSections) * 230);
    char header[48];
    for (int i = 0; i < kSections; ++i) {
        std::snprintf(header, sizeof header, "[Section %06d]\nk=%d\n", i, i);
        text += header;
        text += padding;
    }
    text += "[section 000000]\nk=repeated\n";
    ASSERT_GT(text.size(), 20u * 1000 * 1000);
    const std::string path = folder.Write("large.ini", text);

    char block[1024];
    PlatformProfileSectionNames(block, sizeof block, path.c_str());
    EXPECT_STREQ(block, "Section 000000");
    EXPECT_STREQ(block + 15 * 67, "Section 000067");
    const int probes[] = {0, 1, 4242, 50000, 99998, kSections - 1};
    for (int i : probes) {
        SCOPED_TRACE(i);
        char section[32];
        std::snprintf(section, sizeof section, "SECTION %06d", i);
        EXPECT_EQ(PlatformProfileInt(section, "k", -1, path.c_str()), static_cast<uint32_t>(i));
        char value[261];
        EXPECT_EQ(PlatformProfileString(section, "pad", "", value, sizeof value, path.c_str()), 190u);
    }
    EXPECT_EQ(PlatformProfileInt("Section 100000", "k", 7, path.c_str()), 7u);
}

}  // namespace
