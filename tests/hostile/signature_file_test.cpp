// Hostile signature files: very large files, very many sections, binary
// bytes, NUL bytes and very long lines. Each load must end with a list of
// complete signatures and read no section beyond the 1024-byte name block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "markhound/platform/profile_file.h"
#include "markhound/support/memory.h"
#include "tests/fakes/temp_dir.h"
#include "tests/hostile/load_log.h"

using namespace std::string_literals;

namespace {

const char kSized[] = "Signature=1\nSizeSize=1\n";

// Bytes that look like nothing in particular, the same on every run.
std::string Noise(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// "[S000000]\nSignature=1\nSizeSize=1\n" and so on: names of 7 characters.
std::string ManySections(size_t count) {
    std::string text;
    text.reserve(count * 34);
    char name[32];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "S%06zu", i % 1000000);
        text += std::string("[") + name + "]\n" + kSized;
    }
    return text;
}

class HostileFiles : public testing::Test {
protected:
    void Load() {
        list.DeleteAll();
        log = LoadLog();
        LoadSignatureFile(dir.Windows("signs.ini").c_str(), list, &log);
    }
    TempDir dir;
    SignatureList list;
    LoadLog log;
};

TEST_F(HostileFiles, OnlyTheSectionsThatFitTheNameBlockAreRead) {
    // 100,000 names of 7 characters: 128 of them fill 1024 bytes with their NULs.
    dir.Write("signs.ini", ManySections(100000));
    Load();
    EXPECT_EQ(list.Count(), 127);
    EXPECT_EQ(std::string(list.Signature(126)->name.text), "S000126");
    EXPECT_TRUE(AllComplete(list));
}

// Counts the memory requests of a parse.
uint32_t g_requests = 0;
bool CountRequest(std::size_t) {
    ++g_requests;
    return false;
}

TEST(HostileProfileParse, ManySectionsAreParsedWithAFixedNumberOfAllocations) {
    // Growing the tables step by step would copy them once per step: the
    // parse counts first and allocates each table once.
    for (size_t sections : {size_t{10}, size_t{100000}}) {
        SCOPED_TRACE(sections);
        const std::string text = ManySections(sections);
        auto* file = new ProfileFile;
        ASSERT_NE(file, nullptr);
        g_requests = 0;
        MemSetFailureHook(&CountRequest);
        const bool parsed = file->Parse(text.data(), text.size());
        MemSetFailureHook(nullptr);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(file->SectionCount(), static_cast<int32_t>(sections) + 1);
        EXPECT_LE(g_requests, 4u);
        delete file;
    }
}

TEST_F(HostileFiles, ATwentyMegabyteFileIsReadUpToItsNameBlock) {
    // Signatures at the front, then 20 MB of sections that hold long values.
    std::string text = "[first]\n" + std::string(kSized) + "[second]\nSignatureStart=2\n";
    const std::string line = "[padding]\nExt=" + std::string(1000, 'x') + "\n";
    while (text.size() < (size_t{20} << 20)) text += line;
    dir.Write("signs.ini", text);
    Load();
    EXPECT_EQ(Names(list), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(log.files.size(), 1u);
}

TEST_F(HostileFiles, BinaryFilesNamedSignsIniGiveOnlyCompleteSignatures) {
    struct Row {
        const char* what;
        std::string bytes;
    } rows[] = {
        {"noise", Noise(1 << 16, 1)},
        {"noise with brackets and keys", Noise(1 << 12, 2) + "\n[x]\nSignature=7\nSizeSize=4\n" + Noise(1 << 12, 3)},
        {"UTF-16 mark then noise", "\xFF\xFE" + Noise(1 << 14, 4)},
        {"UTF-8 mark then noise", "\xEF\xBB\xBF" + Noise(1 << 14, 5)},
        {"twenty megabytes of noise", Noise(size_t{20} << 20, 6)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        dir.Write("signs.ini", row.bytes);
        Load();
        EXPECT_TRUE(AllComplete(list));
        EXPECT_EQ(log.files.size(), 1u);
    }
}

TEST_F(HostileFiles, NulBytesEndNamesAndValues) {
    dir.Write("signs.ini", "[one\0tail]\nSignature=1\0,2\nSizeSize=4\0" "9\nExt=a\0b\n"
                           "[two]\nSignature=2\nSizeSize=2\n\0\0\0\n[three]\nSignatureStart='x\n"s);
    Load();
    ASSERT_EQ(Names(list), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(list.Signature(0)->pattern.Count(), 1);
    EXPECT_EQ(std::string(list.Signature(0)->ext.text), "a");
}

TEST_F(HostileFiles, LinesOf100KilobytesAreCut) {
    const std::string long_pattern = [] {
        std::string p;
        while (p.size() < 100000) p += "0x41,";
        return p;
    }();
    const std::string long_name(100000, 'N');
    dir.Write("signs.ini", "[long pattern]\nSignature=" + long_pattern + "\nSizeSize=1\nExt=" +
                               std::string(100000, 'e') + "\n[" + long_name + "]\n" + kSized +
                               "[after]\n" + kSized);
    Load();
    ASSERT_GE(list.Count(), 1);
    const SizedSignature* first = list.Signature(0);
    EXPECT_EQ(std::string(first->name.text), "long pattern");
    EXPECT_EQ(first->pattern.Count(), 52);  // 260 characters of "0x41,"
    EXPECT_EQ(first->ext.length, SignatureText::kMaxLength);
    // The long name does not fit the name block: neither it nor the sections
    // behind it are read.
    EXPECT_EQ(list.Count(), 1);
    EXPECT_TRUE(AllComplete(list));
}

}  // namespace
