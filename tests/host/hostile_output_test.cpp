// Output places that refuse files: a folder hound may not write into, a path
// through a regular file, a file system that is full. Each gets clear lines
// on stderr, a non-zero exit and no file that looks complete but is not.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

namespace fs = std::filesystem;

class HostileOutput : public ::testing::Test {
protected:
    void SetUp() override {
        Image image(5000);
        image.Put(10, ProbeItem(100, "small", 100));
        image.Put(1000, ProbeItem(3000, "large", 40));
        input_ = image.Save(Path("in.img"));
        plugins_ = PluginFolder(Path("plugins"), {"probe"});
    }
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    std::vector<std::string> Scan(const std::string& out) const {
        return {"scan", input_, "--plugins", plugins_, "--order", "probe", "-q", "--out", out};
    }

    TempDir dir_;
    std::string input_, plugins_;
};

// Files whose names mark them unfinished, anywhere below root.
std::vector<std::string> TemporaryFiles(const std::string& root) {
    std::vector<std::string> found;
    for (const std::string& file : FilesBelow(root)) {
        if (file.find(".part-") != std::string::npos) found.push_back(file);
    }
    return found;
}

TEST_F(HostileOutput, FolderThatTakesNoFilesFailsBeforeTheScan) {
    // Root may write anywhere: the run then drops to nobody, in a folder
    // that anybody may read and only root may write.
    std::string prefix;
    if (geteuid() == 0) {
        if (Shell("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv to drop root";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
        fs::permissions(dir_.path(), fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    }
    const std::string locked = Path("locked");
    fs::create_directories(locked + "/small");  // a folder that exists does not help
    const fs::perms read_only = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    for (const std::string& folder : {locked, locked + "/small"}) fs::permissions(folder, read_only);
    const struct {
        std::string out, message;
    } rows[] = {
        {locked, "hound: cannot write into '" + locked + "': Permission denied"},
        {locked + "/new", "hound: cannot create '" + locked + "/new': Permission denied"},
        {locked + "/small", "hound: cannot write into '" + locked + "/small': Permission denied"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.out);
        const HoundRun run = RunHound(Scan(row.out), prefix);
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(Lines(run.err), (std::vector<std::string>{row.message}));
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(FilesBelow(locked), std::vector<std::string>{});
    fs::permissions(locked, fs::perms::owner_write, fs::perm_options::add);  // so that it can be removed
}

TEST_F(HostileOutput, PathThroughARegularFileGetsOneLine) {
    const std::string file = dir_.Write("plain.txt", "not a folder");
    const struct {
        std::string out, message;
    } rows[] = {
        {file + "/out", "hound: cannot create '" + file + "/out': Not a directory"},
        {file + "/a/b", "hound: cannot create '" + file + "/a/b': Not a directory"},
        {file, "hound: cannot create '" + file + "': Not a directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.out);
        const HoundRun run = RunHound(Scan(row.out));
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(Lines(run.err), (std::vector<std::string>{row.message}));
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t>{'n', 'o', 't', ' ', 'a', ' ', 'f', 'o', 'l', 'd', 'e', 'r'}));
}

std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

// hound run with a file-size limit and SIGXFSZ ignored, as a full file
// system answers: every write to a file beyond the limit fails (with
// EFBIG). Its output goes through pipes, which the limit does not touch;
// it is short enough to wait in them until hound ends.
HoundRun RunWithFileSizeLimit(const std::vector<std::string>& args, rlim_t limit) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit bound = {limit, limit};
        std::signal(SIGXFSZ, SIG_IGN);
        if (dup2(out[1], STDOUT_FILENO) < 0 || dup2(err[1], STDERR_FILENO) < 0 ||
            setrlimit(RLIMIT_FSIZE, &bound) != 0) {
            _exit(126);
        }
        for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        std::vector<char*> argv = {const_cast<char*>(HOUND_BINARY)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(HOUND_BINARY, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    HoundRun run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    run.out = Drain(out[0]);
    run.err = Drain(err[0]);
    return run;
}

TEST_F(HostileOutput, FullFileSystemLeavesNoUnfinishedFile) {
    const struct {
        rlim_t limit;
        std::vector<std::string> files;  // what stays below the output folder
        std::vector<std::string> failed;  // the files named by the error lines, in order ("": the gallery's)
    } rows[] = {
        // Room for the small item, the audit and the gallery's items, not
        // for the large item or the gallery page.
        {2000, {"audit.txt", "small/in.img-000000000000000a.small"}, {"", "large/in.img-00000000000003e8.large"}},
        // Room for nothing: the first item fails, and so do the gallery and the audit.
        {0, {}, {"small/in.img-000000000000000a.small", "", "audit.txt"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.limit);
        const std::string out = Path("out-" + std::to_string(row.limit));
        const HoundRun run = RunWithFileSizeLimit(Scan(out), row.limit);
        EXPECT_EQ(run.exit_code, 1) << run.err;
        const std::vector<std::string> errors = Lines(run.err);
        ASSERT_EQ(errors.size(), row.failed.size()) << run.err;
        for (size_t i = 0; i < errors.size(); ++i) {
            EXPECT_EQ(errors[i], row.failed[i].empty()
                                     ? "hound: cannot write the gallery page in '" + out +
                                           "': File too large; it stays as it was"
                                     : "hound: cannot write '" + out + "/" + row.failed[i] + "': File too large");
        }
        EXPECT_EQ(FilesBelow(out), row.files);
        EXPECT_EQ(TemporaryFiles(out), std::vector<std::string>{});
        EXPECT_EQ(Lines(run.out).at(0), input_ + ": 2 items in 5000 bytes");
    }
}

}  // namespace
