// Stopping on a signal: the scan loop and the extraction stop at the flag, and
// the built hound, signalled mid-run, removes its unfinished file, says so in
// one line, exits with 128 + the signal and writes nothing that looks complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "host/base/interrupt.h"
#include "host/base/reader.h"
#include "host/report/extract.h"
#include "host/scan/scan.h"
#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

namespace fs = std::filesystem;

// --- the flag, in process ---

uint32_t KX_CALL One(uint32_t, uint32_t) { return 1; }
void KX_CALL None(uint32_t) {}
// An item of 1 byte at every position.
uint32_t KX_CALL Everywhere(uint32_t, const HostReader*, uint64_t position, FoundItem* item) {
    *item = {position, 1, "x", "x"};
    return 1;
}
const PluginInterface kEverywhere = {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None,
                                     &None, &Everywhere, 0};

// Every stage asks the one request; the first to see the stop names what it
// was doing in the line that tells it.
TEST(StopRequest, FirstStageToSeeTheStopNamesIt) {
    std::atomic<int> flag{0};
    StopRequest stop(&flag);
    EXPECT_FALSE(stop.AskedWhile("while hashing"));
    flag = SIGTERM;
    EXPECT_TRUE(stop.AskedWhile("while writing 'x'"));
    EXPECT_TRUE(stop.AskedWhile("while scanning 'y'"));
    EXPECT_EQ(stop.Line(), "stopped by SIGTERM while writing 'x'; nothing further reported or written");
}

TEST(StopRequest, ScanEndsBeforeTheNextPosition) {
    const std::vector<uint8_t> bytes(1000, 0);
    const MappedData data = {bytes.data(), bytes.size()};
    const HostReader reader = MakeReader(&data);
    std::atomic<int> stop{0};
    ScanOptions options;
    options.stop = &stop;
    const Scanner scanner(&reader, bytes.size(), {{&kEverywhere, 0}}, options);
    std::vector<uint64_t> offsets;
    int progress_calls = 0;
    const uint64_t items = scanner.ScanRange(
        0, bytes.size(),
        [&](const Item& item) {
            offsets.push_back(item.offset);
            if (offsets.size() == 3) stop = SIGINT;
        },
        [&](uint64_t, uint64_t) { ++progress_calls; });
    EXPECT_EQ(items, 3u);
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 1, 2}));
    EXPECT_EQ(progress_calls, 0);

    stop = 0;  // the same scanner without a request runs to the end
    EXPECT_EQ(scanner.ScanRange(0, bytes.size(), [](const Item&) {}, nullptr), 1000u);
}

TEST(StopRequest, WriteStopsAndRemovesItsTemporaryFile) {
    TempDir dir;
    const std::vector<uint8_t> bytes(100, 7);
    std::atomic<int> stop{SIGTERM};
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/item.bin", bytes.data(), bytes.size(), &error, &stop));
    EXPECT_TRUE(FilesBelow(dir.path()).empty());
    EXPECT_EQ(error, "stopped while writing '" + dir.path() + "/item.bin'; its unfinished file was removed");

    stop = 0;
    EXPECT_TRUE(WriteFileAtomically(dir.path() + "/item.bin", bytes.data(), bytes.size(), &error, &stop));
    EXPECT_EQ(ReadBytes(dir.path() + "/item.bin"), bytes);
}

TEST(StopRequest, SignalNamesAndExitCodes) {
    const struct {
        int signal;
        const char* name;
        int exit_code;
    } rows[] = {{SIGINT, "SIGINT", 130}, {SIGTERM, "SIGTERM", 143}, {SIGHUP, "SIGHUP", 129}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(StopSignalName(row.signal), row.name);
        EXPECT_EQ(StopExitCode(row.signal), row.exit_code);
    }
}

// --- the built hound, signalled while it works ---

// hound started in the background, its output captured in files.
class Background {
public:
    Background(const std::vector<std::string>& args, const std::string& dir)
        : out_(dir + "/stdout"), err_(dir + "/stderr") {
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv = {const_cast<char*>(HOUND_BINARY)};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(HOUND_BINARY, argv.data());
            _exit(127);
        }
    }
    ~Background() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }
    // Polls until ready() holds; false when hound ended first or a minute passed.
    bool WaitFor(const std::function<bool()>& ready) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < deadline) {
            if (ready()) return true;
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
    // Waits for the end: the exit code, or 128 + the signal that ended it.
    HoundRun Finish() {
        int status = 0;
        if (!reaped_) waitpid(pid_, &status, 0);
        reaped_ = true;
        HoundRun run;
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        const auto out = ReadBytes(out_), err = ReadBytes(err_);
        run.out.assign(out.begin(), out.end());
        run.err.assign(err.begin(), err.end());
        return run;
    }

private:
    std::string out_, err_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// A sparse file of size bytes, with the given items written into it.
std::string SparseImage(const std::string& path, uint64_t size,
                        const std::vector<std::pair<uint64_t, std::vector<uint8_t>>>& items) {
    { std::ofstream create(path, std::ios::binary); }
    fs::resize_file(path, size);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [offset, bytes] : items) {
        file.seekp(static_cast<std::streamoff>(offset));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return path;
}

bool HasTemporaryFile(const std::string& folder) {
    std::error_code failure;
    for (const auto& entry : fs::directory_iterator(folder, failure)) {
        if (entry.path().filename().string().find(".part-") != std::string::npos) return true;
    }
    return false;
}

// True when the process has the file mapped: it is reading it.
bool Maps(pid_t pid, const std::string& path) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::stringstream text;
    text << maps.rdbuf();
    return text.str().find(fs::canonical(path).string()) != std::string::npos;
}

class StoppedRun : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    TempDir dir_;
};

TEST_F(StoppedRun, SignalDuringExtractionRemovesTheUnfinishedFile) {
    // A small item, then one of 8 GiB: its temporary file appears at once,
    // and writing it takes far longer than the test takes to send a signal.
    constexpr uint64_t kSize = uint64_t{8} << 30;
    const std::string input = SparseImage(Path("big.img"), kSize,
                                          {{0, ProbeItem(100, "small", 100)},
                                           {4096, ProbeItem(kSize - 4096, "big", 100)}});
    const std::string plugins = PluginFolder(Path("plugins"), {"probe"});
    const struct {
        int signal;
        const char* name;
        bool json;  // the JSON lines printed stay; every one says what became of its item
    } rows[] = {{SIGINT, "SIGINT", false}, {SIGTERM, "SIGTERM", false}, {SIGINT, "SIGINT", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.json ? " json" : ""));
        const std::string out = Path(std::string("out-") + row.name + (row.json ? "-json" : ""));
        const std::string dfxml = Path(std::string("report-") + row.name + ".xml");
        std::vector<std::string> args = {"scan", input, "--plugins", plugins, "--order", "probe", "--out", out,
                                         "--dfxml", dfxml};
        // Without digests the item's file is begun at once, not after hashing 8 GiB.
        if (row.json) args.insert(args.end(), {"--json", "--hash", "none"});
        Background hound(args, dir_.path());
        ASSERT_TRUE(hound.WaitFor([&] { return HasTemporaryFile(out + "/big"); }));
        kill(hound.pid(), row.signal);
        const HoundRun run = hound.Finish();

        EXPECT_EQ(run.exit_code, 128 + row.signal) << run.err;
        EXPECT_EQ(Lines(run.err),
                  (std::vector<std::string>{"hound: stopped by " + std::string(row.name) +
                                            " while writing '" + out +
                                            "/big/big.img-0000000000001000.big'; its unfinished file "
                                            "was removed; nothing further reported or written"}));
        // The small item is complete; nothing else, no audit, no report.
        EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"small/big.img-0000000000000000.small"}));
        EXPECT_EQ(ReadBytes(out + "/small/big.img-0000000000000000.small"), ProbeItem(100, "small", 100));
        EXPECT_FALSE(fs::exists(dfxml));
        if (!row.json) {
            EXPECT_EQ(run.out, "");
            continue;
        }
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 2u) << run.out;
        EXPECT_EQ(nlohmann::json::parse(lines[0])["extracted"], out + "/small/big.img-0000000000000000.small");
        EXPECT_EQ(nlohmann::json::parse(lines[1])["not_extracted"], "stopped by SIGINT");
    }
}

TEST_F(StoppedRun, SignalDuringTheScanReportsNothingOfTheUnfinishedInput) {
    Image image(1000);
    image.Put(10, ProbeItem(30, "ok", 30));
    const std::string first = image.Save(Path("first.img"));
    // 4 GiB without an item: the probe is asked at every position.
    const std::string second = SparseImage(Path("second.img"), uint64_t{4} << 30, {});
    const std::string plugins = PluginFolder(Path("plugins"), {"probe"});
    const std::string out = Path("out");
    Background hound({"scan", first, second, "--plugins", plugins, "--order", "probe", "--out", out},
                     dir_.path());
    ASSERT_TRUE(hound.WaitFor([&] { return Maps(hound.pid(), second); }));
    kill(hound.pid(), SIGHUP);
    const HoundRun run = hound.Finish();

    EXPECT_EQ(run.exit_code, 128 + SIGHUP) << run.err;
    EXPECT_EQ(Lines(run.err), (std::vector<std::string>{"hound: stopped by SIGHUP while scanning '" + second +
                                                        "'; nothing further reported or written"}));
    // The first input is reported and extracted in full, the second not at
    // all, and there is no total and no audit.
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], first + ": 1 item in 1000 bytes");
    EXPECT_EQ(run.out.find(second), std::string::npos);
    EXPECT_EQ(run.out.find("total:"), std::string::npos);
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"ok/first.img-000000000000000a.ok"}));
}

}  // namespace
