// hound run carelessly: outputs that fail or point at the evidence. Each case
// asserts the exit code, the one line on stderr and what is left on disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

namespace fs = std::filesystem;

class CarelessUse : public ::testing::Test {
protected:
    void SetUp() override {
        Image image(3000);
        image.Put(100, ProbeItem(50, "aaa", 50));
        image.Put(1000, ProbeItem(80, "bbb", 80));
        input_ = image.Save(Path("victim.img"));
        original_ = image.bytes();
        plugins_ = PluginFolder(Path("plugins"), {"probe"});
    }
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    std::vector<std::string> Args(std::vector<std::string> extra) const {
        std::vector<std::string> args = {"scan", input_, "--plugins", plugins_, "--order", "probe",
                                         "--no-check"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    // hound with its standard output sent to target; its stderr and exit code.
    HoundRun ToStdout(const std::vector<std::string>& args, const std::string& target) {
        std::string command = ShellQuote(HOUND_BINARY);
        for (const std::string& arg : args) command += " " + ShellQuote(arg);
        HoundRun run;
        run.exit_code = Shell(command + " 2>&1 >" + target, &run.err);
        return run;
    }
    // The JSON lines of a scan of the input with extra options, saved as name.
    std::string PartFile(const std::string& name, const std::vector<std::string>& extra) const {
        std::vector<std::string> args = Args({"--json", "-q"});
        args.insert(args.end(), extra.begin(), extra.end());
        const std::string out = RunHound(args).out;
        WriteBytes(Path(name), std::vector<uint8_t>(out.begin(), out.end()));
        return Path(name);
    }

    TempDir dir_;
    std::string input_, plugins_;
    std::vector<uint8_t> original_;
};

TEST_F(CarelessUse, FailedWritesToStdoutOrDfxmlGiveOneLineAndExitOne) {
    const std::string part = PartFile("whole.jsonl", {"--part", "1/1"});
    const struct {
        std::vector<std::string> extra;
        std::string target, line;
        std::vector<std::string> command = {};  // instead of a scan with extra
        int code = 1;
    } rows[] = {
        {{}, "/dev/full", "hound: cannot write the standard output: No space left on device"},
        {{"--json"}, "/dev/full", "hound: cannot write the standard output: No space left on device"},
        {{"--dfxml", "/dev/full"}, "/dev/null", "hound: cannot write '/dev/full': No space left on device"},
        {{}, "/dev/full", "hound: cannot write the standard output: No space left on device", {"join", part}},
        {{}, "/dev/null", "hound: cannot write '/dev/full': No space left on device",
         {"join", part, "--dfxml", "/dev/full"}},
        {{}, "/dev/full", "hound: cannot write the standard output: No space left on device",
         {"signs", BuiltPlugin("signs.ini")}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const HoundRun run = ToStdout(row.command.empty() ? Args(row.extra) : row.command, row.target);
        EXPECT_EQ(run.exit_code, row.code);
        EXPECT_EQ(Lines(run.err), std::vector<std::string>{row.line});
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST_F(CarelessUse, DfxmlThatCannotBeWrittenOrIsEvidenceIsRefusedBeforeTheScan) {
    fs::create_directories(Path("out"));
    fs::create_hard_link(input_, Path("alias.img"));
    WriteBytes(Path("plain"), {'x'});
    const struct {
        std::vector<std::string> extra;
        std::string line;
    } rows[] = {
        {{"--dfxml", Path("gone/r.xml")},
         "cannot write --dfxml '" + Path("gone/r.xml") + "': its folder '" + Path("gone") + "' does not exist"},
        {{"--dfxml", Path("plain/r.xml")},
         "cannot write --dfxml '" + Path("plain/r.xml") + "': '" + Path("plain") + "' is not a folder"},
        {{"--dfxml", Path("out")}, "cannot write --dfxml '" + Path("out") + "': it is a folder"},
        {{"--dfxml", input_},
         "--dfxml '" + input_ + "' is the input '" + input_ + "'; refused, so as not to overwrite it"},
        {{"--dfxml", Path("alias.img")},  // another name of the same file
         "--dfxml '" + Path("alias.img") + "' is the input '" + input_ + "'; refused, so as not to overwrite it"},
        {{"--dfxml", Path("out/audit.txt"), "--out", Path("out")},
         "--dfxml '" + Path("out/audit.txt") + "' lies inside the --out folder '" + Path("out") +
             "', where the audit and the extracted files go; refused"},
        {{"--dfxml", Path("out/../out/jpg.xml"), "--out", Path("./out")},
         "--dfxml '" + Path("out/../out/jpg.xml") + "' lies inside the --out folder '" + Path("./out") +
             "', where the audit and the extracted files go; refused"},
        {{"--dfxml", Path("new/sub/r.xml"), "--out", Path("out/../new/")},  // a folder not made yet
         "--dfxml '" + Path("new/sub/r.xml") + "' lies inside the --out folder '" + Path("out/../new/") +
             "', where the audit and the extracted files go; refused"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const HoundRun run = RunHound(Args(row.extra));
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(Lines(run.err), std::vector<std::string>{"hound: " + row.line});
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(ReadBytes(input_), original_);
        EXPECT_EQ(FilesBelow(Path("out")), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(Path("new")));
    }
}

TEST_F(CarelessUse, JoinOutputsThatAreAPartOrTheImageAreRefused) {
    const std::string first = PartFile("1.jsonl", {"--part", "1/2"});
    fs::create_directories(Path("parts"));
    const std::string second = PartFile("parts/audit.txt", {"--part", "2/2"});
    const std::vector<uint8_t> first_bytes = ReadBytes(first), second_bytes = ReadBytes(second);
    const std::string image = "the image '" + input_ + "' that the parts name";
    const struct {
        std::vector<std::string> extra;
        std::string target, line;
    } rows[] = {
        {{"--dfxml", first}, "/dev/null", "--dfxml '" + first + "' is the input '" + first +
                                              "'; refused, so as not to overwrite it"},
        {{"--dfxml", input_}, "/dev/null",
         "--dfxml '" + input_ + "' is " + image + "; refused, so as not to overwrite it"},
        {{}, ">" + ShellQuote(second), "the standard output is the input '" + second +
                                            "'; refused, so as not to write into it"},
        {{}, ">" + ShellQuote(input_), "the standard output is " + image + "; refused, so as not to write into it"},
        {{"--out", Path("parts")}, "/dev/null", "the input '" + second + "' is '" + Path("parts") +
                                                    "/audit.txt', which this run would rewrite; refused"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        std::vector<std::string> args = {"join", first, second};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const HoundRun run = ToStdout(args, row.target);
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(Lines(run.err), std::vector<std::string>{"hound: " + row.line});
        EXPECT_EQ(ReadBytes(input_), original_);
        EXPECT_EQ(ReadBytes(first), first_bytes);
        EXPECT_EQ(ReadBytes(second), second_bytes);
    }
}

TEST_F(CarelessUse, JoinRemovesOnlyRegularFilesInTheTypeFoldersOfItsOutFolder) {
    const std::string out = Path("out"), evidence = dir_.Write("victim/evidence.txt", "keep");
    fs::create_directories(out + "/x/dir.x");
    fs::create_symlink(evidence, out + "/x/link.x");
    fs::create_symlink(Path("victim"), out + "/lnk");
    fs::create_symlink(out, Path("alias"));
    std::vector<std::string> many, many_lines;  // more refusals than lines for them
    for (int i = 10; i < 22; ++i) many.push_back(dir_.Write("victim/" + std::to_string(i), "keep"));
    for (int i = 0; i < 10; ++i) {
        many_lines.push_back("hound: note: '" + many[i] + "' left in place: it lies outside the type folders "
                             "of the --out folder '" + out + "'");
    }
    many_lines.push_back("hound: note: 2 more extracted files left in place");
    const std::string outside = "' left in place: it lies outside the type folders of the --out folder '" + out + "'";
    const struct {
        std::vector<std::string> extracted;  // of items left out
        bool with_out;
        std::vector<std::string> lines;
        bool removed = false;
    } rows[] = {
        {{evidence}, true, {"hound: note: '" + evidence + outside}},
        {{fs::relative(evidence).string()}, true, {"hound: note: '" + fs::relative(evidence).string() + outside}},
        {{input_}, true, {"hound: note: '" + input_ + outside}},
        {{out + "/../victim.img"}, true, {"hound: note: '" + out + "/../victim.img" + outside}},
        {{out + "/lnk/evidence.txt"}, true,
         {"hound: note: '" + out + "/lnk/evidence.txt' left in place: '" + out + "/lnk' is a symbolic link"}},
        {{out + "/x/link.x"}, true, {"hound: note: '" + out + "/x/link.x' left in place: it is a symbolic link"}},
        {{out + "/x/dir.x"}, true, {"hound: note: '" + out + "/x/dir.x' left in place: it is not a regular file"}},
        {{out + "/x/in.x"}, false, {"hound: note: 1 extracted file of items left out stay in place: give --out "
                                    "with the parts' output folder to remove them"}},
        {{out + "/x/in.x"}, true, {}, true},
        {{Path("alias/x/in.x")}, true, {}, true},  // another spelling of the folder
        {many, true, many_lines},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.extracted[0]);
        dir_.Write("out/x/in.x", "item");
        // Part 2 reports items that part 1 covers up to 150: all are left out.
        std::string second;
        for (size_t i = 0; i < row.extracted.size(); ++i) {
            second += "{\"file\":\"" + input_ + "\",\"offset\":" + std::to_string(120 + i) +
                      ",\"extracted\":\"" + row.extracted[i] + "\"}\n";
        }
        const std::string part = "{\"file\":\"" + input_ + "\",\"part\":{\"begin\":", size = ",\"file_size\":3000}}";
        const std::string first = dir_.Write("1.jsonl", part + "0,\"end\":100,\"next_part_from\":150" + size);
        second = dir_.Write("2.jsonl", second + part + "100,\"end\":3000,\"next_part_from\":3000" + size);
        std::vector<std::string> args = {"join", first, second};
        if (row.with_out) args.insert(args.end(), {"--out", out});
        const HoundRun run = RunHound(args);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(Lines(run.err), row.lines);
        for (const std::string& path : {evidence, input_, out + "/x/link.x", out + "/x/dir.x", many.back()}) {
            EXPECT_NE(fs::symlink_status(path).type(), fs::file_type::not_found) << path;
        }
        EXPECT_EQ(fs::exists(out + "/x/in.x"), !row.removed);
    }
    EXPECT_EQ(ReadBytes(input_), original_);
}

TEST_F(CarelessUse, StandardOutputAppendedToAnInputIsRefused) {
    const HoundRun run = ToStdout(Args({}), ">" + ShellQuote(input_));
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(Lines(run.err), std::vector<std::string>{"hound: the standard output is the input '" + input_ +
                                                       "'; refused, so as not to write into it"});
    EXPECT_EQ(ReadBytes(input_), original_);
}

// Streams and devices that are the evidence under another name: the standard
// error appended to an input or a part, outputs onto a signature file, a
// read-only loop device over the image (rows skipped where no loop device can be set up). The line goes to
// the standard output when the standard error is the evidence.
TEST_F(CarelessUse, StandardErrorAndLoopDevicesOverTheEvidenceAreRefused) {
    const std::string part = PartFile("1.jsonl", {});
    const std::vector<uint8_t> part_bytes = ReadBytes(part);
    std::string loop;
    if (Shell("losetup -r -f --show " + ShellQuote(input_) + " 2>/dev/null", &loop) != 0) loop.clear();
    while (!loop.empty() && loop.back() == '\n') loop.pop_back();
    const auto command = [&](std::vector<std::string> args) {
        std::string line = ShellQuote(HOUND_BINARY);
        for (const std::string& arg : args) line += " " + ShellQuote(arg);
        return line;
    };
    const std::string signs = Path("signs.ini");
    const std::string sign = "[X]\nSignature='X,'X\nSizeOff=2\nSizeSize=1\nExt=x\n";
    WriteBytes(signs, std::vector<uint8_t>(sign.begin(), sign.end()));
    const std::vector<uint8_t> signs_bytes = ReadBytes(signs);
    const std::string scan = command(Args({})), join = command({"join", part});
    const struct {
        std::string shell, out, err;
        bool needs_loop = false;
    } rows[] = {
        {scan + " 2>>" + ShellQuote(input_),
         "hound: the standard error is the input '" + input_ + "'; refused, so as not to write into it", ""},
        {join + " 2>>" + ShellQuote(input_),
         "hound: the standard error is the image '" + input_ + "'; refused, so as not to write into it", ""},
        {join + " 2>>" + ShellQuote(part),
         "hound: the standard error is the part '" + part + "'; refused, so as not to write into it", ""},
        {command({"signs", signs}) + " 2>&1 >>" + ShellQuote(signs),
         "hound: the standard output is the signature file '" + signs + "'; refused, so as not to write into it", ""},
        {command(Args({"--signs", signs, "--dfxml", signs})) + " 2>&1",
         "hound: --dfxml '" + signs + "' is the signature file '" + signs + "'; refused, so as not to overwrite it", ""},
        {command({"scan", loop, "--dfxml", input_}) + " 2>&1",
         "hound: --dfxml '" + input_ + "' is the input '" + loop + "'; refused, so as not to overwrite it", "",
         true},
        {command({"scan", loop}) + " 2>&1 >>" + ShellQuote(input_),
         "hound: the standard output is the input '" + loop + "'; refused, so as not to write into it", "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shell);
        if (row.needs_loop && loop.empty()) {
            std::cout << "SKIPPED row: no loop device can be set up here\n";
            continue;
        }
        std::string out;
        EXPECT_EQ(Shell(row.shell, &out), 1);
        EXPECT_EQ(Lines(out), std::vector<std::string>{row.out});
        EXPECT_EQ(ReadBytes(input_), original_);
        EXPECT_EQ(ReadBytes(part), part_bytes);
        EXPECT_EQ(ReadBytes(signs), signs_bytes);
    }
    if (!loop.empty()) Shell("losetup -d " + loop);
}

TEST_F(CarelessUse, AnInputThatIsTheAuditIsRefused) {
    fs::create_directories(Path("out"));
    WriteBytes(Path("out/audit.txt"), original_);
    const std::string audit = Path("out/audit.txt");
    const HoundRun run = RunHound({"scan", audit, "--plugins", plugins_, "--order", "probe", "--out",
                                   Path("out"), "--out-append"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(Lines(run.err), std::vector<std::string>{"hound: the input '" + audit + "' is '" + Path("out") +
                                                       "/audit.txt', which this run would rewrite; refused"});
    EXPECT_EQ(ReadBytes(audit), original_);
}

std::string Text(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(CarelessUse, OutFolderHoldingFilesIsRefusedWithoutOutAppend) {
    fs::create_directories(Path("out/jpg"));
    WriteBytes(Path("out/jpg/old.jpg"), {1, 2, 3});
    const HoundRun run = RunHound(Args({"--out", Path("out")}));
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(Lines(run.err), std::vector<std::string>{"hound: '" + Path("out") +
                                                       "' already holds files; refused, so as not to mix "
                                                       "runs: give --out-append to add to them, or an empty folder"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(FilesBelow(Path("out")), std::vector<std::string>{"jpg/old.jpg"});

    // No earlier run put there $TMPDIR inside the folder, nor the private
    // plug-in folder of --signs that this run makes in $TMPDIR.
    const struct {
        const char *out, *tmpdir;
    } rows[] = {{"with-tmp", "with-tmp/tmp"}, {"is-tmp", "is-tmp"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tmpdir);
        fs::create_directories(Path(row.tmpdir));
        const HoundRun fresh = RunHound(Args({"--out", Path(row.out), "--signs", BuiltPlugin("signs.ini")}),
                                        "TMPDIR=" + ShellQuote(Path(row.tmpdir)));
        EXPECT_EQ(fresh.exit_code, 0) << fresh.err;
        EXPECT_EQ(FilesBelow(Path(row.out)), (std::vector<std::string>{"aaa/victim.img-0000000000000064.aaa",
                                                                       "audit.txt",
                                                                       "bbb/victim.img-00000000000003e8.bbb"}));
    }
}

TEST_F(CarelessUse, OutAppendTakesNewNamesAndTheAuditListsEveryRun) {
    const std::string out = Path("out");
    ASSERT_EQ(RunHound(Args({"--out", out})).exit_code, 0);
    const std::vector<uint8_t> first = ReadBytes(out + "/aaa/victim.img-0000000000000064.aaa");
    Image changed(3000);
    changed.Put(100, ProbeItem(60, "aaa", 60));
    changed.Save(input_);
    const HoundRun run = RunHound(Args({"--out", out, "--out-append"}));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"aaa/victim.img-0000000000000064-2.aaa",
                                                         "aaa/victim.img-0000000000000064.aaa", "audit.txt",
                                                         "bbb/victim.img-00000000000003e8.bbb"}));
    EXPECT_EQ(ReadBytes(out + "/aaa/victim.img-0000000000000064.aaa"), first);
    EXPECT_EQ(ReadBytes(out + "/aaa/victim.img-0000000000000064-2.aaa"), Slice(changed.bytes(), 100, 60));
    const std::string audit = Text(out + "/audit.txt");
    for (const std::string& name : FilesBelow(out)) {
        if (name == "audit.txt") continue;
        EXPECT_NE(audit.find("  " + name + "  "), std::string::npos) << name;
    }
    EXPECT_EQ(audit.find("scan audit"), 12u);  // "hound 0.1.0 scan audit"
    EXPECT_NE(audit.find("scan audit", 13), std::string::npos) << audit;
}

TEST_F(CarelessUse, ASecondRunOnALockedOutFolderIsRefused) {
    fs::create_directories(Path("out"));
    const std::string lock = Path("out/.hound-lock");
    const int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);  // as a running hound holds it
    for (const bool append : {false, true}) {
        std::vector<std::string> extra = {"--out", Path("out")};
        if (append) extra.push_back("--out-append");
        const HoundRun run = RunHound(Args(extra));
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(Lines(run.err), std::vector<std::string>{"hound: '" + Path("out") +
                                                           "' is in use by another hound run (it holds '" +
                                                           lock + "'); refused"});
        EXPECT_EQ(FilesBelow(Path("out")), std::vector<std::string>{".hound-lock"});
    }
    close(fd);
    // Released, the stale lock file does not count as an earlier run's file.
    EXPECT_EQ(RunHound(Args({"--out", Path("out")})).exit_code, 0);
    EXPECT_FALSE(fs::exists(lock));
}

TEST_F(CarelessUse, TheLastPartToEndRemovesTheLockFile) {
    fs::create_directories(Path("out"));
    const std::string lock = Path("out/.hound-lock");
    const int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);  // as a part still running holds it
    EXPECT_EQ(RunHound(Args({"--out", Path("out"), "--part", "1/2"})).exit_code, 0);
    EXPECT_TRUE(fs::exists(lock));
    close(fd);
    EXPECT_EQ(RunHound(Args({"--out", Path("out"), "--part", "2/2"})).exit_code, 0);
    EXPECT_FALSE(fs::exists(lock));
}

}  // namespace
