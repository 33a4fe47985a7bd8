// "hound signs" in process: every way a section or include is passed over,
// with its file, section and reason; the signatures in list order with their
// places; the same list as a plain load; warnings on tokens and patterns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/signs/signs_report.h"
#include "host/signs/signs_tokens.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "tests/fakes/temp_dir.h"

namespace {

struct Expected {
    std::string file;  // relative to the folder
    std::string section;
    std::string reason;
};

class SignsExplain : public ::testing::Test {
protected:
    SignsReport Explain(const std::string& top = "signs.ini") {
        SignsReport report;
        std::string error;
        EXPECT_TRUE(ExplainSignatureFile(dir.Native(top), &report, &error)) << error;
        return report;
    }
    // file|section|reason of each finding, with the folder's path left out.
    std::vector<std::string> Places(const std::vector<SignsFinding>& findings) const {
        std::vector<std::string> places;
        for (const SignsFinding& finding : findings) {
            std::string file = finding.where.file;
            if (file.rfind(dir.path() + "/", 0) == 0) file = file.substr(dir.path().size() + 1);
            places.push_back(file + "|" + finding.where.section + "|" + SignsReasonName(finding.reason));
        }
        return places;
    }
    static std::vector<std::string> Wanted(const std::vector<Expected>& expected) {
        std::vector<std::string> places;
        for (const Expected& e : expected) places.push_back(e.file + "|" + e.section + "|" + e.reason);
        return places;
    }
    TempDir dir;
};

std::string Repeat(const std::string& text, int n) {
    std::string repeated;
    for (int i = 0; i < n; ++i) repeated += text;
    return repeated;
}

const char kOk[] = "Signature=0x11,0x22,0x33\nSizeSize=1\n";

// A chain of files, each including the next: chain0.ini ... chain<n>.ini.
void WriteChain(const TempDir& dir, int n) {
    for (int i = 0; i < n; ++i) {
        dir.Write("chain" + std::to_string(i) + ".ini",
                  "[next]\nInclude=chain" + std::to_string(i + 1) + ".ini\n");
    }
    dir.Write("chain" + std::to_string(n) + ".ini", std::string("[end]\n") + kOk);
}

TEST_F(SignsExplain, EachWayOfPassingOverNamesItsFileSectionAndReason) {
    std::string many;  // 9-character names: 102 fit the 1024-byte name block
    for (int i = 0; i < 120; ++i) many += "[Sec" + std::to_string(100000 + i) + "]\n" + kOk;
    std::string tree;  // each level includes the next twice: 2^11 reads
    for (int i = 0; i < 11; ++i) {
        dir.Write("tree" + std::to_string(i) + ".ini",
                  "[a]\nInclude=tree" + std::to_string(i + 1) + ".ini\n[b]\nInclude=tree" +
                      std::to_string(i + 1) + ".ini\n");
    }
    dir.Write("tree11.ini", std::string("[leaf]\n") + kOk);
    WriteChain(dir, kMaxIncludeDepth + 1);
    const struct {
        const char* name;
        std::string top;  // the file explained: its text
        std::vector<Expected> passed_over;
        std::string message;  // the first finding's message
        std::string last = "";  // the last finding's message, when given
    } rows[] = {
        {"switched off", std::string("[;off]\n") + kOk + "[on]\n" + kOk,
         {{"signs.ini", ";off", "switched_off"}},
         "switched off by the ';' in front of its name"},
        {"no kind key", "[none]\nExt=x\nSignature=\nSizeSize=1\n[on]\n" + std::string(kOk),
         {{"signs.ini", "none", "no_kind"}},
         "none of Include, Signature and SignatureStart has a value"},
        {"sized pattern without elements", "[empty]\nSignature=, ,\nSizeSize=1\n",
         {{"signs.ini", "empty", "empty_pattern"}},
         "Signature gives no pattern element; the signature stays pending and is dropped at the "
         "end of the file"},
        {"width 3, completed later", "[w3]\nSignature=1,2,3\nSizeSize=3\n[fix]\n" + std::string(kOk),
         {{"signs.ini", "w3", "size_width"}},
         "SizeSize is 3, not 1, 2 or 4; the signature stays pending and is completed by [fix]"},
        {"width 8, dropped by a bounded section",
         "[w8]\nSignature=1,2,3\nSizeSize=8\n[bounded]\nSignatureStart=7,8,9\n",
         {{"signs.ini", "w8", "size_width"}},
         "SizeSize is 8, not 1, 2 or 4; the signature stays pending and is dropped by the bounded "
         "section [bounded]"},
        {"no width, dropped at the end", "[on]\n" + std::string(kOk) + "[nowidth]\nSignature=1,2,3\n",
         {{"signs.ini", "nowidth", "size_width"}},
         "SizeSize is 0 or absent, not 1, 2 or 4; the signature stays pending and is dropped at the "
         "end of the file"},
        {"bounded start without elements", "[bounded]\nSignatureStart= , \nSignatureEnd=1\n",
         {{"signs.ini", "bounded", "empty_pattern"}},
         "SignatureStart gives no pattern element"},
        {"relative include not found", "[inc]\nInclude=sub\\gone.ini\n",
         {{"signs.ini", "inc", "include_missing"}},
         "include not found: neither '" + dir.path() + "/sub/gone.ini' nor '" + dir.path() +
             "/gone.ini' exists"},
        {"absolute include not found", "[inc]\nInclude=" + dir.Windows("absent.ini") + "\n",
         {{"signs.ini", "inc", "include_missing"}},
         "include not found: '" + dir.path() + "/absent.ini' does not exist"},
        {"include cycle", "[to b]\nInclude=b.ini\n",
         {{"b.ini", "back", "include_cycle"}},
         "include of '" + dir.path() + "/signs.ini' passed over: that file is already being read"},
        {"include too deep", "[chain]\nInclude=chain0.ini\n",
         {{"chain63.ini", "next", "include_too_deep"}},
         "include of '" + dir.path() + "/chain64.ini' passed over: more than 64 files deep"},
        // The block ends inside the 103rd name: it is read as a section "Se".
        {"names beyond the name block", "[many]\nInclude=many.ini\n",
         {{"many.ini", "Sec100102", "names_cut"}, {"many.ini", "Se", "name_cut_short"}},
         "this section and the 17 after it are not read: their names lie beyond the 1024-byte "
         "name block",
         "the 1024-byte name block ends inside the name [Sec100102], so this section, which the "
         "file does not have, is read instead and defines nothing"},
    };
    dir.Write("b.ini", "[back]\nInclude=signs.ini\n");
    dir.Write("many.ini", many);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        dir.Write("signs.ini", row.top);
        const SignsReport report = Explain();
        EXPECT_EQ(Places(report.passed_over), Wanted(row.passed_over));
        ASSERT_FALSE(report.passed_over.empty());
        EXPECT_EQ(report.passed_over[0].message, row.message);
        if (!row.last.empty()) {
            EXPECT_EQ(report.passed_over.back().message, row.last);
        }
    }
    // More than kMaxFilesPerLoad files read: the rest are passed over. The
    // tree below tree2.ini holds 1023 files, read 4th to 1026th; the last two
    // are tree11.ini through [a] and [b] of the last tree10.ini.
    dir.Write("signs.ini", "[tree]\nInclude=tree0.ini\n");
    const SignsReport report = Explain();
    EXPECT_EQ(report.files.size(), kMaxFilesPerLoad);
    ASSERT_FALSE(report.passed_over.empty());
    EXPECT_EQ(Places({report.passed_over[0]}), Wanted({{"tree10.ini", "a", "too_many_files"}}));
    EXPECT_EQ(report.passed_over[0].message,
              "include of '" + dir.path() + "/tree11.ini' passed over: the load has read 1024 files already");
}

TEST_F(SignsExplain, WarningsNameTheirFileSectionAndKey) {
    const struct {
        const char* name;
        std::string top;
        std::vector<Expected> warnings;
        std::string message;  // the first warning's
    } rows[] = {
        {"value cut", "[long]\nSignature=" + Repeat("1,", 150) + "\nSizeSize=1\n",
         {{"signs.ini", "long", "value_cut"}},
         "the value of Signature is longer than 260 characters and is cut"},
        {"token without element", "[t]\nSignature=1,2,3,h,0xFFFFFFFF\nSizeSize=1\n",
         {{"signs.ini", "t", "token_ignored"}, {"signs.ini", "t", "token_ignored"}},
         "in Signature, the token \"h\" gives no pattern element"},
        {"two exact bytes", "[BMP]\nSignature='B,'M\nSizeOff=2\nSizeSize=4\n",
         {{"signs.ini", "BMP", "few_exact_bytes"}},
         "the pattern (42 4D) has only 2 exact bytes: by chance alone it matches once in every 64 "
         "KiB of random data, so it will fire constantly on ordinary data; give it at least 3 exact "
         "bytes"},
        {"decimal token with letters", "[d]\nSignature=1,2,FF\nSizeSize=1\n",
         {{"signs.ini", "d", "no_digit"}},
         "in Signature, the token \"FF\" is read as a decimal number that does not end in one of its "
         "digits, so it gives 0x00; write 0xFF or FFh for hexadecimal"},
        {"blank inside, in the end pattern",
         "[b]\nSignatureStart=1,2,3\nSignatureEnd=0x4D 0x5A,0\n",
         {{"signs.ini", "b", "blank_inside"}},
         "in SignatureEnd, the token \"0x4D 0x5A\" has a blank inside: only its last number counts, "
         "so it gives 0x5A; separate bytes with commas"},
        {"above 255", "[v]\nSignatureStart=0x141,2,3\n",
         {{"signs.ini", "v", "over_255"}},
         "in SignatureStart, the token \"0x141\" is 321, more than a byte holds: only its low 8 bits "
         "count, so it gives 0x41"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        dir.Write("signs.ini", row.top);
        const SignsReport report = Explain();
        EXPECT_EQ(Places(report.warnings), Wanted(row.warnings));
        EXPECT_TRUE(report.passed_over.empty());
        ASSERT_FALSE(report.warnings.empty());
        EXPECT_EQ(report.warnings[0].message, row.message);
    }
}

TEST_F(SignsExplain, SignaturesInListOrderWithTheSectionsTheyCameFrom) {
    // A pending signature completed after an include keeps its place in front
    // of the included file's signatures.
    dir.Write("signs.ini",
              "[A]\nSignature=1,2,3\nSizeSize=3\n[inc]\nInclude=extra\\x.ini\n"
              "[B]\nSignature=0x42,0x4D,?,?,0,0\nSizeOff=2\nSizeSize=4\nSizeAddon=14\nExt=bmp\n"
              "[GIF]\nSignatureStart=0x47,0x49,0x46,0x38,?,61h\nSignatureEnd=0,0x3B\n"
              "LimitSize=5000\nStartOffset=1\nEndOffset=2\nExt=gif\n");
    dir.Write("extra/x.ini", "[X]\nSignature=9,8,7\nSizeSize=2\nExt=x\n");
    const SignsReport report = Explain();
    const std::string top = dir.path() + "/signs.ini", x = dir.path() + "/extra/x.ini";
    ASSERT_EQ(report.signatures.size(), 3u);

    const SignsSignature& b = report.signatures[0];
    EXPECT_FALSE(b.bounded);
    EXPECT_EQ(b.name, "B");
    EXPECT_EQ(b.ext, "bmp");
    EXPECT_EQ(b.pattern, "42 4D ?? ?? 00 00");
    EXPECT_EQ(b.exact_bytes, 4u);
    EXPECT_EQ(b.size_offset, 2u);
    EXPECT_EQ(b.size_width, 4u);
    EXPECT_EQ(b.size_addon, 14u);
    EXPECT_EQ(b.from, (SignsPlace{top, "B"}));
    EXPECT_EQ(b.created_in, (SignsPlace{top, "A"}));

    const SignsSignature& xs = report.signatures[1];
    EXPECT_EQ(xs.pattern, "09 08 07");
    EXPECT_EQ(xs.from, (SignsPlace{x, "X"}));
    EXPECT_TRUE(xs.created_in.file.empty());

    const SignsSignature& gif = report.signatures[2];
    EXPECT_TRUE(gif.bounded);
    EXPECT_EQ(gif.pattern, "47 49 46 38 ?? 61");
    EXPECT_EQ(gif.end_pattern, "00 3B");
    EXPECT_EQ(gif.limit_size, 5000u);
    EXPECT_EQ(gif.start_offset, 1u);
    EXPECT_EQ(gif.end_offset, 2u);
    EXPECT_EQ(gif.from, (SignsPlace{top, "GIF"}));

    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[1].path, x);
    EXPECT_EQ(report.files[1].depth, 1u);
    EXPECT_EQ(report.files[1].included_by, (SignsPlace{top, "inc"}));
    EXPECT_EQ(Places(report.passed_over), Wanted({{"signs.ini", "A", "size_width"}}));
    EXPECT_STREQ(SignsOutcomeName(report.passed_over[0].outcome), "completed");
}

TEST_F(SignsExplain, ListIsTheOneAPlainLoadBuilds) {
    dir.Write("signs.ini",
              "[;off]\nSignature=1\n[w3]\nSignature=1,2\nSizeSize=3\n[inc]\nInclude=sub\\more.ini\n"
              "[S]\nSignature=0x4D,'Z,?,255\nSizeSize=2\nExt=s\n[cycle]\nInclude=signs.ini\n"
              "[B]\nSignatureStart=1,2,3\nSignatureEnd=,\nExt=b\n[w5]\nSignature=4\nSizeSize=5\n");
    dir.Write("sub/more.ini", "[M]\nSignatureStart=9,9,9\nSignatureEnd=8\nEndOffset=1\n[T]\nSignature=5\n");
    const SignsReport report = Explain();
    SignatureList list;
    LoadSignatureFile(dir.Windows("signs.ini").c_str(), list);
    ASSERT_EQ(report.signatures.size(), static_cast<size_t>(list.Count()));
    for (int32_t i = 0; i < list.Count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(report.signatures[i].name, list.Signature(i)->name.text);
        EXPECT_EQ(report.signatures[i].ext, list.Signature(i)->ext.text);
        EXPECT_EQ(report.signatures[i].bounded,
                  dynamic_cast<const BoundedSignature*>(list.Signature(i)) != nullptr);
    }
}

TEST(SignsTokens, TokensWhoseByteSurprises) {
    const struct {
        const char* value;
        std::vector<std::string> reasons;
        const char* gives;  // end of the first note, or null
    } rows[] = {
        {"FF", {"no_digit"}, "gives 0x00; write 0xFF or FFh for hexadecimal"},
        {"ZZ", {"no_digit"}, "so it gives 0x00"},
        {"09", {"no_digit"}, "read as an octal (it begins with 0) number"},
        {"1Fh ,2", {"no_digit"}, "the blank after the h makes it decimal"},
        {"0x4Dh", {"no_digit"}, "so it gives 0x00"},
        {"0x4D 0x5A", {"blank_inside"}, "gives 0x5A; separate bytes with commas"},
        {"1 2 3", {"blank_inside"}, "gives 0x03; separate bytes with commas"},
        {"-1", {"ignored_text"}, "(\"-\") are not read, so it gives 0x01"},
        {"256", {"over_255"}, "is 256, more than a byte holds: only its low 8 bits count, so it gives 0x00"},
        {"0x100", {"over_255"}, "gives 0x00"},
        {"'AB", {"quote_rest"}, "gives 0x41"},
        {"'", {"lone_quote"}, "gives 0x00"},
        {"FF, 0x4D 0x5A ,'", {"no_digit", "blank_inside", "lone_quote"}, "gives 0x00; write 0xFF or FFh for hexadecimal"},
        // What reads as written: no note.
        {"0x4D, 4Dh, 1001101b, 0115, 77, 'M, 'M', `M, ?, ??, 255, 0X4d", {}, nullptr},
        {" 77 , 0x4D ", {}, nullptr},
        // No element at all: the loader's own report covers these.
        {"h, B, 4294967295, 0xFFFFFFFF, , ,", {}, nullptr},
        {"", {}, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        const std::vector<TokenNote> notes = SurprisingTokens(row.value);
        std::vector<std::string> reasons;
        for (const TokenNote& note : notes) reasons.push_back(SignsReasonName(note.reason));
        EXPECT_EQ(reasons, row.reasons);
        if (row.gives != nullptr && !notes.empty()) {
            EXPECT_NE(notes[0].message.find(row.gives), std::string::npos) << notes[0].message;
        }
    }
}

TEST(SignsTokens, PatternsWithFewerThanThreeExactBytesFireConstantly) {
    const struct {
        uint32_t exact;
        const char* hex;
        const char* part;  // "" when no warning
    } rows[] = {
        {0, "?? ??", "has no exact byte: it matches at every position"},
        {1, "42 ??", "has only 1 exact byte: by chance alone it matches once in every 256 bytes"},
        {2, "42 4D", "has only 2 exact bytes: by chance alone it matches once in every 64 KiB"},
        {3, "42 4D 00", ""},
        {10, "42 4D ?? ?? ?? ?? 00 00 00 00", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.hex);
        const std::string message = FewExactBytesMessage(row.exact, row.hex);
        if (*row.part == '\0') {
            EXPECT_EQ(message, "");
        } else {
            EXPECT_EQ(message.rfind(std::string("the pattern (") + row.hex + ") " + row.part, 0), 0u)
                << message;
        }
    }
}

}  // namespace
