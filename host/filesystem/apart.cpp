#include "host/filesystem/apart.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "host/source/source.h"

namespace {

// Exit codes of the child besides 0 (a listing follows).
constexpr int kNoFileSystem = 3;
constexpr int kCannotOpen = 4;

// The child's bounds: memory (address space; none under the sanitizers,
// which reserve far more than they use) and time, by the media's size.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kBoundMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kBoundMemory = false;
#else
constexpr bool kBoundMemory = true;
#endif
#else
constexpr bool kBoundMemory = true;
#endif
constexpr rlim_t kMaxMemory = rlim_t{4} << 30;

int Seconds(uint64_t media_size) { return 120 + static_cast<int>(std::min<uint64_t>(media_size >> 26, 1u << 20)); }

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

int ListFileSystems(const std::string& input, bool raw) {
    Source source;
    std::string error;
    if (!source.Open(input, raw, 16, &error)) return kCannotOpen;
    FileSystems fs;
    if (!fs.Read(source.data())) return kNoFileSystem;
    return WriteAll(STDOUT_FILENO, fs.Save()) ? 0 : kCannotOpen;
}

bool ReadFileSystemsApart(const std::string& exe, const std::string& input, bool raw, const MappedData& data,
                          FileSystems* fs, std::string* problem) {
    const uint64_t media_size = data.size;
    // A copy of this process needs no start-up (this thread is its only one).
    const bool copy = data.file != nullptr;
    if (!copy && exe.empty()) return fs->Read(data);
    problem->clear();
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        *problem = std::string("cannot start its reader: ") + std::strerror(errno);
        return false;
    }
    const int seconds = Seconds(media_size);
    const pid_t child = fork();
    if (child == 0) {
        // The bounds first; then a copy reads, and otherwise only
        // async-signal-safe calls come before exec.
        if (kBoundMemory) {
            const rlimit memory{kMaxMemory, kMaxMemory};
            setrlimit(RLIMIT_AS, &memory);
        }
        const rlimit cpu{static_cast<rlim_t>(seconds), static_cast<rlim_t>(seconds)};
        setrlimit(RLIMIT_CPU, &cpu);
        if (copy) {
            FileSystems listed;
            _exit(!listed.Read(data) ? kNoFileSystem : WriteAll(pipe_fds[1], listed.Save()) ? 0 : kCannotOpen);
        }
        dup2(pipe_fds[1], STDOUT_FILENO);
        const char* argv[] = {exe.c_str(), kListFileSystemsCommand, input.c_str(), raw ? "--raw" : nullptr, nullptr};
        execv(exe.c_str(), const_cast<char* const*>(argv));
        _exit(127);
    }
    close(pipe_fds[1]);
    if (child < 0) {
        close(pipe_fds[0]);
        *problem = std::string("cannot start its reader: ") + std::strerror(errno);
        return false;
    }
    // The listing, read as it comes; the child is ended at the deadline.
    std::string listing;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool late = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            late = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd ready{pipe_fds[0], POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
        if (polled < 0 && errno != EINTR) break;
        if (polled <= 0) continue;
        char buffer[65536];
        const ssize_t got = read(pipe_fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        listing.append(buffer, static_cast<size_t>(got));
    }
    close(pipe_fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (late) {
        *problem = "its reader took longer than " + std::to_string(seconds) + " s";
        return false;
    }
    if (WIFSIGNALED(status)) {
        *problem = "its reader ended on signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == kNoFileSystem || code == kCannotOpen) return false;
    if (code != 0 || !fs->Restore(listing, media_size)) {
        *problem = "its reader failed (exit code " + std::to_string(code) + ")";
        return false;
    }
    return true;
}
