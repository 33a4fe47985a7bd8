// Report text spooled to an unlinked temporary file.
#include "host/report/spool.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/base/names.h"
#include "host/report/extract.h"

namespace {

constexpr size_t kBufferSize = size_t{1} << 20;

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

Spool::~Spool() {
    if (fd_ >= 0) close(fd_);
}

std::string Spool::Open(const std::string& folder) {
    std::string name = folder + "/.hound-spool-XXXXXX";
    fd_ = mkstemp(name.data());
    if (fd_ < 0) return "cannot create a temporary file in " + Quoted(folder) + ": " + std::strerror(errno);
    unlink(name.c_str());
    return "";
}

void Spool::Append(const std::string& text) {
    if (fd_ < 0 || failure_ != 0) return;
    buffer_ += text;
    if (buffer_.size() >= kBufferSize) Flush();
}

bool Spool::Flush() {
    if (failure_ == 0 && !WriteAll(fd_, buffer_.data(), buffer_.size())) failure_ = errno;
    buffer_.clear();
    return failure_ == 0;
}

bool Spool::CopyTo(int fd) {
    if (!Flush()) {
        errno = failure_;
        return false;
    }
    if (lseek(fd_, 0, SEEK_SET) != 0) return false;
    std::string chunk(kBufferSize, '\0');
    for (;;) {
        const ssize_t got = read(fd_, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!WriteAll(fd, chunk.data(), static_cast<size_t>(got))) return false;
    }
}

bool WriteSpooledFile(const std::string& path, const std::string& head, Spool* body,
                      const std::string& tail, std::string* error) {
    return WriteReportWith(path, error, [&](int fd) {
        return WriteAll(fd, head.data(), head.size()) && body->CopyTo(fd) &&
               WriteAll(fd, tail.data(), tail.size());
    });
}
