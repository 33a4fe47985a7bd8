// A file or block device mapped read-only into memory, with 64-bit sizes.
#include "host/base/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/base/names.h"

namespace {

// Closes a descriptor when it leaves scope; the mapping outlives it.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

std::string Reason(const std::string& what, const std::string& path) {
    return what + " " + Quoted(path) + ": " + std::strerror(errno);
}

// A mapped file that is shortened while it is read raises SIGBUS at the
// first page it no longer covers. The handler ends the run with one line
// instead of a crash; the message is made beforehand, as a handler may only
// write it.
char g_bus_message[512];
size_t g_bus_message_length = 0;

void OnBusError(int) {
    if (write(STDERR_FILENO, g_bus_message, g_bus_message_length) < 0) _exit(1);
    _exit(1);
}

void WatchForShrinking(const std::string& path) {
    static bool installed = false;
    if (!installed) {
        struct sigaction action = {};
        action.sa_handler = &OnBusError;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, nullptr);
        installed = true;
    }
    std::string message = "hound: " + Quoted(path) + " became shorter while it was read; stopped\n";
    if (message.size() > sizeof g_bus_message) {
        message = "hound: an input became shorter while it was read; stopped\n";
    }
    std::memcpy(g_bus_message, message.data(), message.size());
    g_bus_message_length = message.size();
}

}  // namespace

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
    if (data_ != nullptr) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::Open(const std::string& path, std::string* error) {
    Close();
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = Reason("cannot open", path);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = Quoted(path) + " is a folder, not a file";
        return false;
    }
    // Pipes and character devices cannot be mapped and may block on open.
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
        *error = Quoted(path) + " is not a regular file or block device";
        return false;
    }
    Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        *error = Reason("cannot open", path);
        return false;
    }
    // A block device reports its length only through seeking.
    const off_t length = lseek(file.fd, 0, SEEK_END);
    if (length < 0) {
        *error = Reason("cannot read the length of", path);
        return false;
    }
    if (length == 0) {
        *error = Quoted(path) + " is empty: nothing to scan";
        return false;
    }
    if (static_cast<uint64_t>(length) > SIZE_MAX) {
        *error = Quoted(path) + " is too large to map on this system";
        return false;
    }
    void* mapping = mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (mapping == MAP_FAILED) {
        *error = Reason("cannot map", path);
        return false;
    }
    madvise(mapping, static_cast<size_t>(length), MADV_SEQUENTIAL);
    WatchForShrinking(path);
    data_ = static_cast<const uint8_t*>(mapping);
    size_ = static_cast<uint64_t>(length);
    return true;
}
