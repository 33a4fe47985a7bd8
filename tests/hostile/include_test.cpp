// Hostile includes: files that include themselves under any spelling, long
// chains, cycles included many times over, and include targets that are not
// signature files at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/temp_dir.h"
#include "tests/hostile/load_log.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const char kSized[] = "Signature=1\nSizeSize=1\n";

class HostileIncludes : public testing::Test {
protected:
    void Load(const std::string& top = "signs.ini") {
        list.DeleteAll();
        log = LoadLog();
        LoadSignatureFile(dir.Windows(top).c_str(), list, &log);
    }
    TempDir dir;
    SignatureList list;
    LoadLog log;
};

TEST_F(HostileIncludes, EverySpellingOfACycleEndsItAtOnce) {
    struct Row {
        const char* what;
        const char* back;  // how sub\b.ini names signs.ini again
    } rows[] = {
        {"parent folder", "..\\signs.ini"},
        {"parent folder, forward slashes", "../signs.ini"},
        {"current folder components", ".\\..\\.\\signs.ini"},
        {"repeated separators", "..\\\\\\signs.ini"},
        {"down and up again", "..\\sub\\..\\sub\\..\\signs.ini"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        dir.Write("signs.ini", std::string("[top]\n") + kSized + "[b]\nInclude=sub\\b.ini\n");
        dir.Write("sub/b.ini", std::string("[in b]\n") + kSized + "[back]\nInclude=" + row.back +
                                   "\n[again]\nInclude=b.ini\n");
        Load();
        EXPECT_EQ(log.files.size(), 2u);
        EXPECT_EQ(log.Count(LoadEvent::kIncludeCycle), 2u);
        EXPECT_EQ(Names(list), (std::vector<std::string>{"top", "in b"}));
    }
}

TEST_F(HostileIncludes, MutuallyIncludingFilesAreEachReadOncePerChain) {
    dir.Write("signs.ini", std::string("[top]\n") + kSized + "[a]\nInclude=a.ini\n[b]\nInclude=b.ini\n");
    dir.Write("a.ini", std::string("[in a]\n") + kSized + "[b]\nInclude=b.ini\n");
    dir.Write("b.ini", std::string("[in b]\n") + kSized + "[a]\nInclude=a.ini\n[top]\nInclude=signs.ini\n");
    Load();
    // signs -> a -> b (a and signs are open), then signs -> b -> a.
    EXPECT_EQ(Names(list), (std::vector<std::string>{"top", "in a", "in b", "in b", "in a"}));
    EXPECT_EQ(log.files.size(), 5u);
}

TEST_F(HostileIncludes, AChainOf200FilesStopsAtTheDepthLimit) {
    const int files = 200;
    for (int i = 0; i < files; ++i) {
        dir.Write("f" + std::to_string(i) + ".ini", "[s" + std::to_string(i) + "]\n" + kSized +
                                                       "[next]\nInclude=f" + std::to_string(i + 1) + ".ini\n");
    }
    Load("f0.ini");
    EXPECT_EQ(log.files.size(), kMaxIncludeDepth + 1);
    EXPECT_EQ(log.Count(LoadEvent::kIncludeTooDeep), 1u);
    ASSERT_EQ(list.Count(), static_cast<int32_t>(kMaxIncludeDepth + 1));
    EXPECT_EQ(std::string(list.Signature(list.Count() - 1)->name.text), "s" + std::to_string(kMaxIncludeDepth));
}

TEST_F(HostileIncludes, AWideTreeStopsAtTheLimitOnFilesRead) {
    // Every file includes the next one 40 times: 40^n files without a limit.
    for (int i = 0; i < 4; ++i) {
        std::string text = "[s" + std::to_string(i) + "]\n" + kSized;
        for (int k = 0; k < 40; ++k) {
            text += "[i" + std::to_string(k) + "]\nInclude=f" + std::to_string(i + 1) + ".ini\n";
        }
        dir.Write("f" + std::to_string(i) + ".ini", text);
    }
    dir.Write("f4.ini", std::string("[leaf]\n") + kSized);
    Load("f0.ini");
    EXPECT_EQ(log.files.size(), kMaxFilesPerLoad);
    EXPECT_GT(log.Count(LoadEvent::kTooManyFiles), 0u);
    EXPECT_EQ(list.Count(), static_cast<int32_t>(kMaxFilesPerLoad));
    EXPECT_TRUE(AllComplete(list));
}

#ifndef _WIN32
// A folder link makes a spelling of the same file that the text does not
// give away; a file that includes itself twice through it would double the
// work at every level. The limit on files read ends it.
TEST_F(HostileIncludes, ACycleIncludedTwiceThroughALinkStopsAtTheLimitOnFilesRead) {
    dir.Write("signs.ini", std::string("[top]\n") + kSized +
                               "[one]\nInclude=loop\\signs.ini\n[two]\nInclude=loop\\signs.ini\n");
    ASSERT_EQ(symlink(".", dir.Native("loop").c_str()), 0);
    Load();
    EXPECT_LE(log.files.size(), kMaxFilesPerLoad);
    EXPECT_GT(log.files.size(), 1u);
    EXPECT_EQ(list.Count(), static_cast<int32_t>(log.files.size()));
    EXPECT_TRUE(AllComplete(list));
}

TEST_F(HostileIncludes, IncludesOfThingsThatAreNoFilesArePassedOver) {
    ASSERT_EQ(mkfifo(dir.Native("fifo.ini").c_str(), 0600), 0);
    dir.Write("folder.ini/x", "");
    const char* targets[] = {"Z:\\dev\\zero", "Z:\\dev\\null", "Z:\\proc\\self\\fd\\0", "fifo.ini",
                             "folder.ini", "Z:\\", "\\\\?\\Z:\\dev\\zero", "Z:\\proc\\self\\mem"};
    for (const char* target : targets) {
        SCOPED_TRACE(target);
        dir.Write("signs.ini", std::string("[top]\n") + kSized + "[inc]\nInclude=" + target +
                                   "\n[after]\nSignature=2\nSizeSize=2\n");
        Load();
        EXPECT_EQ(Names(list), (std::vector<std::string>{"top", "after"}));
    }
}
#endif

TEST_F(HostileIncludes, IncludePathsLongerThan260CharactersAreCut) {
    const std::string deep(400, 'd');
    dir.Write("signs.ini", std::string("[top]\n") + kSized + "[inc]\nInclude=" + deep + "\\" + deep +
                               ".ini\n[abs]\nInclude=Z:\\" + deep + "\n[after]\nSignature=2\nSizeSize=2\n");
    Load();
    EXPECT_EQ(Names(list), (std::vector<std::string>{"top", "after"}));
    for (const std::string& file : log.files) EXPECT_LE(file.size(), 260u);
}

}  // namespace
