// Files written whole or not at all, through a temporary file and a rename.
#include "host/report/extract.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include "host/base/names.h"

namespace {

// One write call moves at most this much: well below any platform's limit,
// and small enough that a stop request is seen within a fraction of a second.
constexpr uint64_t kMaxWrite = uint64_t{8} << 20;

bool Stopped(const std::atomic<int>* stop) {
    return stop != nullptr && stop->load(std::memory_order_relaxed) != 0;
}

// Writes through a copy: the bytes of an evidence image's media are mapped
// only when a read touches them, which a system call's read does not do.
ssize_t WriteCopied(int fd, const uint8_t* data, size_t size) {
    static thread_local std::vector<uint8_t> buffer(size_t{1} << 20);
    const size_t count = size < buffer.size() ? size : buffer.size();
    std::memcpy(buffer.data(), data, count);
    return write(fd, buffer.data(), count);
}

// False with errno set on a failed write, and with errno EINTR when stopped.
// after_block, when given, hears how many bytes are written so far after each block.
bool WriteAll(int fd, const uint8_t* data, uint64_t size, const std::atomic<int>* stop,
              const std::function<void(uint64_t done)>& after_block = {}) {
    uint64_t done = 0;
    while (size > 0) {
        if (Stopped(stop)) {
            errno = EINTR;
            return false;
        }
        const size_t chunk = static_cast<size_t>(size < kMaxWrite ? size : kMaxWrite);
        ssize_t written = write(fd, data, chunk);
        if (written < 0 && errno == EFAULT) written = WriteCopied(fd, data, chunk);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<uint64_t>(written);
        done += static_cast<uint64_t>(written);
        if (after_block) after_block(done);
    }
    return true;
}

std::string Failure(const std::string& path) {
    return "cannot write " + Quoted(path) + ": " + std::strerror(errno);
}

}  // namespace

// Fills a temporary file beside path and renames it to path; see extract.h.
static bool WriteThroughTemporary(const std::string& path, std::string* error,
                                  const std::atomic<int>* stop,
                                  const std::function<bool(int fd)>& fill) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A leading dot and the .part suffix: never mistaken for a finished file.
    std::string temp = folder + "/." + name + ".part-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = Failure(path);
        return false;
    }
    int failure = 0;
    if (fchmod(fd, 0644) != 0 || !fill(fd)) {
        failure = errno;
    }
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temp.c_str(), path.c_str()) != 0) failure = errno;
    if (failure == 0) return true;
    unlink(temp.c_str());
    errno = failure;
    *error = Stopped(stop) ? "stopped while writing " + Quoted(path) + "; its unfinished file was removed"
                           : Failure(path);
    return false;
}

bool WriteFileAtomically(const std::string& path, const void* data, uint64_t size,
                         std::string* error, const std::atomic<int>* stop,
                         const std::function<void(uint64_t done)>& after_block) {
    return WriteThroughTemporary(path, error, stop, [&](int fd) {
        return WriteAll(fd, static_cast<const uint8_t*>(data), size, stop, after_block);
    });
}

bool WritePiecesAtomically(const std::string& path, const std::vector<Piece>& pieces, std::string* error,
                           const std::atomic<int>* stop,
                           const std::function<void(const Piece& piece, uint64_t done)>& after_block) {
    static const std::vector<uint8_t> zeros(size_t{1} << 20);
    return WriteThroughTemporary(path, error, stop, [&](int fd) {
        for (const Piece& piece : pieces) {
            if (piece.data != nullptr) {
                const auto heard = [&](uint64_t done) {
                    if (after_block) after_block(piece, done);
                };
                if (!WriteAll(fd, piece.data, piece.size, stop, heard)) return false;
                continue;
            }
            for (uint64_t done = 0; done < piece.size; done += zeros.size()) {
                if (!WriteAll(fd, zeros.data(), std::min<uint64_t>(zeros.size(), piece.size - done), stop)) return false;
            }
        }
        return true;
    });
}

bool WriteReportFile(const std::string& path, const std::string& text, std::string* error) {
    return WriteReportWith(path, error, [&](int fd) {
        return WriteAll(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size(), nullptr);
    });
}

bool WriteReportWith(const std::string& path, std::string* error,
                     const std::function<bool(int fd)>& fill) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
        return WriteThroughTemporary(path, error, nullptr, fill);
    }
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    int failure = 0;
    if (fd < 0 || !fill(fd)) {
        failure = errno;
    }
    if (fd >= 0 && close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0) return true;
    errno = failure;
    *error = Failure(path);
    return false;
}
