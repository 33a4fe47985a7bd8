// The built "hound signs": its text and JSON lines name the file, section and
// reason of what is passed over; the default library loads whole without a
// warning; the exit codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "tests/fakes/temp_dir.h"
#include "tests/host/host_helpers.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    for (const std::string& line : Lines(text)) lines.push_back(json::parse(line));
    return lines;
}

std::vector<json> OfType(const std::vector<json>& lines, const std::string& type) {
    std::vector<json> found;
    for (const json& line : lines) {
        if (line["type"] == type) found.push_back(line);
    }
    return found;
}

bool HasLine(const std::string& text, const std::string& line) {
    const std::vector<std::string> lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(SignsCommand, TextAndJsonNameTheFileSectionAndReason) {
    TempDir dir;
    dir.Write("signs.ini",
              "[;off]\nSignature=1,2,3\nSizeSize=1\n[w3]\nSignature=1,2,3\nSizeSize=3\n"
              "[inc]\nInclude=sub\\more.ini\n[gone]\nInclude=nothere.ini\n"
              "[BMP]\nSignature='B,'M\nSizeOff=2\nSizeSize=4\nExt=bmp\n");
    dir.Write("sub/more.ini", "[none]\nExt=x\n[ZIP]\nSignatureStart=0x50,0x4B,3,4\nSignatureEnd=0x50,0x4B,5,6\n");
    const std::string top = dir.path() + "/signs.ini", more = dir.path() + "/sub/more.ini";
    const struct {
        std::string file, section, reason, message;
    } expected[] = {
        {top, ";off", "switched_off", "switched off by the ';' in front of its name"},
        {top, "w3", "size_width",
         "SizeSize is 3, not 1, 2 or 4; the signature stays pending and is completed by [BMP]"},
        {more, "none", "no_kind", "none of Include, Signature and SignatureStart has a value"},
        {top, "gone", "include_missing",
         "include not found: '" + dir.path() + "/nothere.ini' does not exist"},
    };

    const HoundRun text = RunHound({"signs", top});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    EXPECT_EQ(text.err, "");
    const HoundRun lines = RunHound({"signs", top, "--json"});
    EXPECT_EQ(lines.exit_code, 0) << lines.err;
    const std::vector<json> objects = JsonLines(lines.out);
    const std::vector<json> passed = OfType(objects, "passed_over");
    ASSERT_EQ(passed.size(), std::size(expected)) << lines.out;
    for (size_t i = 0; i < passed.size(); ++i) {
        SCOPED_TRACE(expected[i].section);
        EXPECT_EQ(passed[i]["file"], expected[i].file);
        EXPECT_EQ(passed[i]["section"], expected[i].section);
        EXPECT_EQ(passed[i]["reason"], expected[i].reason);
        EXPECT_EQ(passed[i]["message"], expected[i].message);
        EXPECT_TRUE(HasLine(text.out, "  " + expected[i].file + " [" + expected[i].section + "]: " +
                                          expected[i].message))
            << text.out;
    }

    const std::vector<json> signatures = OfType(objects, "signature");
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_EQ(signatures[0]["name"], "BMP");
    EXPECT_EQ(signatures[0]["kind"], "sized");
    EXPECT_EQ(signatures[0]["pattern"], "42 4D");
    EXPECT_EQ(signatures[0]["size_offset"], 2);
    EXPECT_EQ(signatures[0]["size_width"], 4);
    EXPECT_EQ(signatures[0]["section"], "BMP");
    EXPECT_EQ(signatures[0]["created_in"]["section"], "w3");
    EXPECT_EQ(signatures[1]["kind"], "bounded");
    EXPECT_EQ(signatures[1]["file"], more);
    EXPECT_EQ(signatures[1]["end_pattern"], "50 4B 05 06");
    EXPECT_TRUE(HasLine(text.out, "       header   42 4D")) << text.out;
    EXPECT_TRUE(HasLine(text.out, "       from     " + top + " [BMP]")) << text.out;
    EXPECT_TRUE(HasLine(text.out, "       created  " + top + " [w3]")) << text.out;

    const std::vector<json> warnings = OfType(objects, "warning");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0]["reason"], "few_exact_bytes");
    EXPECT_EQ(warnings[0]["section"], "BMP");
    EXPECT_EQ(Lines(text.out).back(), "2 signatures from 2 files; 4 sections passed over; 1 warning");
    EXPECT_EQ(objects.back(), json::parse("{\"type\":\"summary\",\"file\":\"" + top +
                                          "\",\"signatures\":2,\"files\":2,\"passed_over\":4,\"warnings\":1}"));
}

TEST(SignsCommand, DefaultLibraryGivesEverySignatureAndPassesNothingOver) {
    const std::string library = std::string(HOUND_PLUGIN_DIR) + "/signs.ini";
    const HoundRun run = RunHound({"signs", library, "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<json> objects = JsonLines(run.out);
    EXPECT_EQ(OfType(objects, "passed_over"), std::vector<json>{});
    EXPECT_EQ(OfType(objects, "warning"), std::vector<json>{});

    SignatureList list;
    LoadSignatureFile(WindowsPath(library).c_str(), list);
    const std::vector<json> signatures = OfType(objects, "signature");
    ASSERT_GT(list.Count(), 0);
    ASSERT_EQ(signatures.size(), static_cast<size_t>(list.Count()));
    for (int32_t i = 0; i < list.Count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(signatures[i]["name"], list.Signature(i)->name.text);
        EXPECT_EQ(signatures[i]["section"], list.Signature(i)->name.text);
        EXPECT_EQ(fs::path(signatures[i]["file"].get<std::string>()).parent_path().filename(), "library");
    }
    const std::vector<json> files = OfType(objects, "file");
    ASSERT_GE(files.size(), 2u);
    EXPECT_EQ(files[0]["file"], library);
    for (size_t i = 1; i < files.size(); ++i) EXPECT_EQ(files[i]["depth"], 1);
}

TEST(SignsCommand, ExitCodes) {
    TempDir dir;
    dir.Write("some.ini", "[X]\nSignature=1,2,3\nSizeSize=1\n");
    dir.Write("none.ini", "[;X]\nSignature=1,2,3\nSizeSize=1\n[Y]\nSignature=1,2,3\nSizeSize=3\n");
    dir.Write("empty.ini", "");
    dir.Write("folder/x", "");
    // A file that exists under a path longer than markhound's 260 characters.
    const std::string deep = dir.Write(std::string(100, 'a') + "/" + std::string(100, 'b') + "/" +
                                           std::string(60, 'c') + "/s.ini",
                                       "[X]\nSignature=1,2,3\nSizeSize=1\n");
    const struct {
        std::string file;
        int exit_code;
        std::string err;
    } rows[] = {
        {dir.path() + "/some.ini", 0, ""},
        {dir.path() + "/none.ini", 1, ""},
        {dir.path() + "/empty.ini", 1, ""},
        {dir.path() + "/missing.ini", 2,
         "hound: cannot read '" + dir.path() + "/missing.ini': No such file or directory\n"},
        {dir.path() + "/folder", 2, "hound: cannot read '" + dir.path() + "/folder': it is a folder\n"},
        {deep, 2,
         "hound: cannot read '" + deep + "': path too long for markhound: at most 258 characters "
         "after the drive\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.substr(0, 80));
        const HoundRun run = RunHound({"signs", row.file});
        EXPECT_EQ(run.exit_code, row.exit_code) << run.err;
        if (row.exit_code == 2) {
            EXPECT_EQ(run.err, row.err);
            EXPECT_EQ(run.out, "");
        } else {
            EXPECT_EQ(run.err, "");
        }
    }
    // A relative path is taken from the working folder.
    std::string out;
    const int code = Shell("cd " + ShellQuote(dir.path()) + " && " + ShellQuote(HOUND_BINARY) +
                               " signs ./some.ini --json",
                           &out);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("\"file\":\"" + dir.path() + "/some.ini\""), std::string::npos) << out;
}

TEST(SignsCommand, IncludedFileThatCannotBeOpenedIsAWarning) {
    TempDir dir;
    std::string prefix;
    if (geteuid() == 0) {
        if (Shell("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv to drop root";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
        fs::permissions(dir.path(), fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    }
    const std::string top = dir.Write("signs.ini", "[X]\nSignature=1,2,3\nSizeSize=1\n[inc]\nInclude=secret.ini\n");
    const std::string secret = dir.Write("secret.ini", "[S]\nSignature=4,5,6\nSizeSize=1\n");
    fs::permissions(top, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    const HoundRun run = RunHound({"signs", top, "--json"}, prefix);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::vector<json> warnings = OfType(JsonLines(run.out), "warning");
    ASSERT_EQ(warnings.size(), 1u) << run.out;
    EXPECT_EQ(warnings[0]["file"], secret);
    EXPECT_EQ(warnings[0]["reason"], "file_unreadable");
    EXPECT_EQ(warnings[0]["message"], "the file cannot be opened (Permission denied), so it gives nothing");
}

TEST(SignsCommand, HelpDescribesTheCommand) {
    const HoundRun run = RunHound({"--help"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find("hound signs [OPTIONS] FILE"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Exit codes: 0 at least one signature; 1 none; 2 the file cannot be read."),
              std::string::npos);
}

}  // namespace
