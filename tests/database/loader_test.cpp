// Signature file loader: section kinds, pending signatures, includes, cycles,
// limits, cut values and the observer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "tests/fakes/temp_dir.h"

namespace {

std::string PatternText(const PatternArray& pattern) {
    std::string text;
    for (int32_t i = 0; i < pattern.Count(); ++i) {
        const auto* element = static_cast<const PatternByte*>(pattern.At(i));
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", element->value);
        text += (i ? " " : "") + (element->exact ? std::string(hex) : std::string("??"));
    }
    return text;
}

// One line per signature: kind, name, ext, pattern and numbers.
std::string Describe(const SizedSignature* signature) {
    std::string line = signature->name.text + std::string("|") + signature->ext.text + "|" +
                       PatternText(signature->pattern) + "|";
    if (const auto* bounded = dynamic_cast<const BoundedSignature*>(signature)) {
        return "B|" + line + PatternText(bounded->end_pattern) + "|" +
               std::to_string(bounded->limit_size()) + "," + std::to_string(bounded->start_offset) +
               "," + std::to_string(bounded->end_offset);
    }
    return "S|" + line + std::to_string(signature->size_offset) + "," +
           std::to_string(signature->size_width) + "," + std::to_string(signature->size_addon);
}

std::vector<std::string> Describe(const SignatureList& list) {
    std::vector<std::string> lines;
    for (int32_t i = 0; i < list.Count(); ++i) lines.push_back(Describe(list.Signature(i)));
    return lines;
}

class LoaderTest : public testing::Test {
protected:
    std::vector<std::string> Load(const std::string& top = "signs.ini", LoadObserver* observer = nullptr) {
        list.DeleteAll();
        LoadSignatureFile(dir.Windows(top).c_str(), list, observer);
        return Describe(list);
    }
    TempDir dir;
    SignatureList list;
};

const char kSized[] = "Signature=1\nSizeSize=1\n";

TEST_F(LoaderTest, ReadsTheFourSectionExample) {
    dir.Write("signs.ini",
              "[BMP picture]\nSignature='B,'M\nSizeOff=2\nSizeSize=4\nExt=bmp\n\n"
              "[GIF picture]\nSignatureStart=0x47,0x49,0x46,0x38,?,61h\nSignatureEnd=0,0x3B\n"
              "EndOffset=2\nExt=gif\n\n"
              "[;old BMP picture]\nSignature=66,77\n\n"
              "[more]\nInclude=extra\\more.ini\n");
    dir.Write("extra/more.ini", "[More]\nSignature=9\nSizeSize=2\nSizeAddon=7\nExt=mor\n");
    EXPECT_EQ(Load(), (std::vector<std::string>{
                          "S|BMP picture|bmp|42 4D|2,4,0",
                          "B|GIF picture|gif|47 49 46 38 ?? 61|00 3B|0,0,2",
                          "S|More|mor|09|0,2,7",
                      }));
}

TEST_F(LoaderTest, KindKeysDecideInOrderAndEmptyValuesCountAsAbsent) {
    dir.Write("x.ini", "[X]\nSignature=88\nSizeSize=1\n");
    dir.Write("signs.ini",
              "[both include and sized]\nInclude=x.ini\nSignature=1\nSizeSize=1\n"
              "[sized and bounded]\nSignature=2\nSizeSize=1\nSignatureStart=3\nSignatureEnd=4\n"
              "LimitSize=5\n"
              "[empty signature]\nSignature=\nSignatureStart=5\nLimitSize=9\nStartOffset=1\n"
              "EndOffset=4294967295\n"
              "[;off]\nSignature=6\nSizeSize=1\n"
              "[nothing]\nExt=zzz\nSizeSize=1\n"
              "[only commas]\nSignatureStart=7\nSignatureEnd=,,,\n");
    EXPECT_EQ(Load(), (std::vector<std::string>{
                          "S|X||58|0,1,0",
                          "S|sized and bounded||02|0,1,0",
                          "B|empty signature||05||9,1,4294967295",
                          "B|only commas||07||0,0,0",
                      }));
}

TEST_F(LoaderTest, NumbersAreUnsigned32BitValues) {
    dir.Write("signs.ini",
              "[n]\nSignature=1\nSizeOff=4294967295\nSizeSize=4\nSizeAddon=-1\n");
    EXPECT_EQ(Load(), (std::vector<std::string>{"S|n||01|4294967295,4,4294967295"}));
}

TEST_F(LoaderTest, SizeWidthsOtherThanOneTwoFourYieldNothing) {
    for (const char* width : {"0", "3", "8", "", "-1"}) {
        SCOPED_TRACE(width);
        dir.Write("signs.ini", std::string("[w]\nSignature=1\nSizeSize=") + width + "\n");
        EXPECT_TRUE(Load().empty());
    }
    for (const char* width : {"1", "2", "4"}) {
        SCOPED_TRACE(width);
        dir.Write("signs.ini", std::string("[w]\nSignature=1\nSizeSize=") + width + "\n");
        EXPECT_EQ(Load().size(), 1u);
    }
}

TEST_F(LoaderTest, PendingSignatureIsCompletedInPlaceOfItsFirstSection) {
    dir.Write("x.ini", "[X]\nSignature=88\nSizeSize=1\n");
    dir.Write("signs.ini",
              "[A]\nSignature=1\nSizeSize=3\n"
              "[inc]\nInclude=x.ini\n"
              "[B]\nSignature=2\nSizeSize=2\nExt=b\n");
    EXPECT_EQ(Load(), (std::vector<std::string>{"S|B|b|02|0,2,0", "S|X||58|0,1,0"}));
}

TEST_F(LoaderTest, PendingSignatureSequences) {
    struct Row {
        const char* what;
        const char* file;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"a bounded section drops the pending one",
         "[A]\nSignature=1\nSizeSize=3\n[G]\nSignatureStart=9\n", {"B|G||09||0,0,0"}},
        {"an empty pattern keeps it pending, a later section completes it",
         "[A]\nSignature=1\nSizeSize=3\nExt=a\n[E]\nSignature=,\nSizeSize=1\n"
         "[C]\nSignature=3,4\nSizeOff=1\nSizeSize=4\nSizeAddon=2\nExt=c\n",
         {"S|C|c|03 04|1,4,2"}},
        {"the end of the file drops it", "[A]\nSignature=1\nSizeSize=3\n[E]\nSignature=,\n", {}},
        {"a bounded section without elements still drops it",
         "[A]\nSignature=1\nSizeSize=3\n[G]\nSignatureStart=h\n[C]\nSignature=5\nSizeSize=1\n",
         {"S|C||05|0,1,0"}},
        {"a section defining nothing leaves it pending",
         "[A]\nSignature=1\nSizeSize=3\n[N]\nExt=q\n[C]\nSignature=5\nSizeSize=1\n",
         {"S|C||05|0,1,0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        dir.Write("signs.ini", row.file);
        EXPECT_EQ(Load(), row.expected);
    }
}

TEST_F(LoaderTest, IncludedFileKeepsItsOwnPendingSignature) {
    dir.Write("x.ini", "[X1]\nSignature=7\nSizeSize=1\n[X2]\nSignature=8\nSizeSize=3\n");
    dir.Write("signs.ini",
              "[A]\nSignature=1\nSizeSize=3\n[inc]\nInclude=x.ini\n[C]\nSignature=2\nSizeSize=1\n");
    // X2 is gone when x.ini ends; A stays pending across the include and C completes it.
    EXPECT_EQ(Load(), (std::vector<std::string>{"S|C||02|0,1,0", "S|X1||07|0,1,0"}));
}

TEST_F(LoaderTest, IncludeCandidates) {
    struct Row {
        const char* what;
        const char* include;
        std::vector<std::string> expected;
    };
    dir.Write("x.ini", std::string("[top x]\n") + kSized);
    dir.Write("sub/x.ini", std::string("[sub x]\n") + kSized);
    dir.Write("only/y.ini", std::string("[only y]\n") + kSized);
    const std::string absolute = dir.Windows("only/y.ini");
    const std::string absolute_missing = dir.Windows("nowhere/x.ini");
    const Row rows[] = {
        {"relative path below the folder first", "sub\\x.ini", {"S|sub x||01|0,1,0"}},
        {"forward slashes work as separators", "sub/x.ini", {"S|sub x||01|0,1,0"}},
        {"then the file name alone in the folder", "nosub\\x.ini", {"S|top x||01|0,1,0"}},
        {"one leading backslash is relative", "\\x.ini", {"S|top x||01|0,1,0"}},
        {"absolute path", absolute.c_str(), {"S|only y||01|0,1,0"}},
        {"absolute missing file: no candidate search", absolute_missing.c_str(), {}},
        {"missing everywhere", "sub\\missing.ini", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        dir.Write("signs.ini", std::string("[inc]\nInclude=") + row.include + "\n");
        EXPECT_EQ(Load(), row.expected);
    }
}

TEST_F(LoaderTest, IncludeCyclesEndAtAFileBeingRead) {
    dir.Write("signs.ini", std::string("[top]\n") + kSized + "[self]\nInclude=signs.ini\n[b]\nInclude=b.ini\n");
    dir.Write("b.ini", std::string("[in b]\n") + kSized + "[back]\nInclude=signs.ini\n[again]\nInclude=B.INI\n");
    EXPECT_EQ(Load(), (std::vector<std::string>{"S|top||01|0,1,0", "S|in b||01|0,1,0"}));
}

TEST_F(LoaderTest, DeepIncludeChainsStopAtTheDepthLimit) {
    const int files = 200;
    for (int i = 0; i < files; ++i) {
        dir.Write("f" + std::to_string(i) + ".ini",
                  "[s" + std::to_string(i) + "]\n" + kSized + "[next]\nInclude=f" +
                      std::to_string(i + 1) + ".ini\n");
    }
    const std::vector<std::string> loaded = Load("f0.ini");
    ASSERT_EQ(loaded.size(), kMaxIncludeDepth + 1);
    EXPECT_EQ(loaded.back(), "S|s" + std::to_string(kMaxIncludeDepth) + "||01|0,1,0");
}

TEST_F(LoaderTest, SectionNamesBeyondTheBlockAreNotRead) {
    std::string file;
    for (int i = 0; i < 120; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Sig%06d", i);  // 9 characters
        file += std::string("[") + name + "]\n" + kSized;
    }
    dir.Write("signs.ini", file);
    EXPECT_EQ(Load().size(), 102u);
}

TEST_F(LoaderTest, NamesFillingTheWholeBlockAreWalkedWithinIt) {
    std::string file;
    for (int i = 0; i < 93; ++i) {  // 93 names of 10 characters: 1023 bytes with their NULs
        char name[16];
        std::snprintf(name, sizeof name, "Name%06d", i);
        file += std::string("[") + name + "]\n" + kSized;
    }
    dir.Write("signs.ini", file);
    const size_t loaded = Load().size();
    EXPECT_GE(loaded, 92u);
    EXPECT_LE(loaded, 93u);
}

TEST_F(LoaderTest, ValuesAreCutAt260Characters) {
    std::string pattern;
    for (int i = 0; i < 128; ++i) pattern += "1,";
    pattern += " 0x4D";  // characters 257 to 261: cut to " 0x4"
    const std::string long_name(300, 'n');
    const std::string long_ext(270, 'e');
    dir.Write("signs.ini", "[" + long_name + "]\nSignature=" + pattern + "\nSizeSize=1\nExt=" + long_ext + "\n");
    Load();
    ASSERT_EQ(list.Count(), 1);
    const SizedSignature* signature = list.Signature(0);
    ASSERT_EQ(signature->pattern.Count(), 129);
    EXPECT_EQ(static_cast<const PatternByte*>(signature->pattern.At(128))->value, 0x04);
    EXPECT_EQ(signature->name.length, 260u);
    EXPECT_EQ(signature->ext.length, 260u);
    EXPECT_EQ(std::string(signature->ext.text), std::string(260, 'e'));
}

TEST_F(LoaderTest, MissingOrEmptyFilesLoadNothing) {
    EXPECT_TRUE(Load("absent.ini").empty());
    for (const char* content : {"", "; only a comment\n", "[;a]\nSignature=1\nSizeSize=1\n[;b]\n"}) {
        dir.Write("signs.ini", content);
        EXPECT_TRUE(Load().empty());
    }
}

TEST_F(LoaderTest, WithoutMemoryNothingIsLoadedAndNothingCrashes) {
    dir.Write("signs.ini", std::string("[a]\n") + kSized + "[b]\nSignatureStart=1\n");
    MemSetFailureHook([](std::size_t) { return true; });
    LoadSignatureFile(dir.Windows("signs.ini").c_str(), list);
    MemSetFailureHook(nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(Load().size(), 2u);  // and a load with memory works again
}

// Collects every event as one line.
class Recorder : public LoadObserver {
public:
    void OnLoadEvent(const LoadReport& report) override {
        std::string line = std::to_string(static_cast<int>(report.event));
        if (report.section != nullptr) line += std::string(" [") + report.section + "]";
        if (report.key != nullptr) line += std::string(" ") + report.key;
        if (report.text != nullptr) line += std::string(" '") + report.text + "'";
        events.push_back(line);
    }
    bool Has(LoadEvent event) const {
        const std::string prefix = std::to_string(static_cast<int>(event));
        for (const std::string& line : events) {
            if (line.compare(0, prefix.size() + 1, prefix + " ") == 0 || line == prefix) return true;
        }
        return false;
    }
    std::vector<std::string> events;
};

TEST_F(LoaderTest, ObserverHearsEveryPassedOverSectionAndChangesNothing) {
    std::string many;
    for (int i = 0; i < 120; ++i) many += "[Sec" + std::to_string(100000 + i) + "]\n" + kSized;
    dir.Write("many.ini", many);
    dir.Write("signs.ini",
              "[;off]\nSignature=1\n[none]\nExt=x\n[cycle]\nInclude=signs.ini\n"
              "[missing]\nInclude=nothere.ini\n[w3]\nSignature=1,h\nSizeSize=3\n"
              "[bounded]\nSignatureStart=" + std::string(300, '7') + "\n[empty]\nSignatureStart=,\n"
              "[many]\nInclude=many.ini\n");
    const std::vector<std::string> plain = Load();
    Recorder recorder;
    EXPECT_EQ(Load("signs.ini", &recorder), plain);
    for (LoadEvent event : {LoadEvent::kFileRead, LoadEvent::kSectionOff, LoadEvent::kSectionNoKind,
                            LoadEvent::kIncludeCycle, LoadEvent::kIncludeMissing,
                            LoadEvent::kTokenIgnored, LoadEvent::kSizedPending,
                            LoadEvent::kPendingDropped, LoadEvent::kValueCut,
                            LoadEvent::kBoundedEmpty, LoadEvent::kSectionsCut,
                            LoadEvent::kSignatureAdded}) {
        SCOPED_TRACE(static_cast<int>(event));
        EXPECT_TRUE(recorder.Has(event));
    }
}

TEST_F(LoaderTest, CutSectionsAreReportedFromTheFirstNameNotHeldWhole) {
    std::string file;
    for (int i = 0; i < 120; ++i) file += "[Sec" + std::to_string(100000 + i) + "]\n" + kSized;
    dir.Write("signs.ini", file);
    struct CutRecorder : LoadObserver {
        void OnLoadEvent(const LoadReport& report) override {
            if (report.event != LoadEvent::kSectionsCut) return;
            first = report.text;
            count = report.number;
        }
        std::string first;
        uint32_t count = 0;
    } recorder;
    EXPECT_EQ(Load("signs.ini", &recorder).size(), 102u);
    EXPECT_EQ(recorder.first, "Sec100102");
    EXPECT_EQ(recorder.count, 18u);
}

}  // namespace
