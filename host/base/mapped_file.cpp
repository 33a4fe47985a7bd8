// A file or block device mapped read-only into memory, with 64-bit sizes.
#include "host/base/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/base/names.h"

namespace {

// Closes a descriptor unless it is released to its owner.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    int Release() {
        const int kept = fd;
        fd = -1;
        return kept;
    }
};

std::string Reason(const std::string& what, const std::string& path) {
    return what + " " + Quoted(path) + ": " + std::strerror(errno);
}

// The mappings that the SIGBUS handler may mend: [begin, end) rounded to
// whole pages, 0 when the slot is free. The handler only reads atomics.
struct Watched {
    std::atomic<uintptr_t> begin{0}, end{0};
    std::atomic<bool> shrank{false};
    std::atomic<bool> taken{false};
};
static_assert(std::atomic<uintptr_t>::is_always_lock_free, "the signal handler reads it");
constexpr int kWatchSlots = 64;
Watched g_watched[kWatchSlots];
uintptr_t g_page_size = 4096;

// A fault inside a watched mapping is a read past the end of a file that
// became shorter: every page from the faulting one on lies past the new end,
// so they are all replaced at once by zero pages (mmap is a plain system
// call here, safe in a handler), the mapping is marked, and the read is
// repeated on the zeros. The stages see the mark and stop that input. A
// fault anywhere else is a real error: the default action ends the process.
void OnBusError(int, siginfo_t* info, void*) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Watched& slot : g_watched) {
        const uintptr_t begin = slot.begin.load(), end = slot.end.load();
        if (begin == 0 || at < begin || at >= end) continue;
        const uintptr_t page = at & ~(g_page_size - 1);
        if (mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                 -1, 0) != MAP_FAILED) {
            slot.shrank.store(true);
            return;
        }
        break;
    }
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
}

void InstallBusHandler() {
    static bool installed = false;
    if (installed) return;
    g_page_size = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = &OnBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGBUS, &action, nullptr);
    installed = true;
}

// A free slot for [data, data + size), or -1 when all are taken (the
// mapping is then not mended: a fault in it ends the process).
int Watch(const uint8_t* data, uint64_t size) {
    InstallBusHandler();
    for (int i = 0; i < kWatchSlots; ++i) {
        bool free = false;
        if (!g_watched[i].taken.compare_exchange_strong(free, true)) continue;
        const auto begin = reinterpret_cast<uintptr_t>(data);
        g_watched[i].shrank.store(false);
        g_watched[i].end.store(begin + (static_cast<uintptr_t>(size) + g_page_size - 1) / g_page_size * g_page_size);
        g_watched[i].begin.store(begin);
        return i;
    }
    return -1;
}

void Unwatch(int slot) {
    if (slot < 0) return;
    g_watched[slot].begin.store(0);
    g_watched[slot].end.store(0);
    g_watched[slot].taken.store(false);
}

}  // namespace

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
    Unwatch(watch_);
    watch_ = -1;
    if (data_ != nullptr) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    for (int fd : piece_fds_) close(fd);
    piece_fds_.clear();
    piece_sizes_.clear();
    data_ = nullptr;
    size_ = 0;
    unwatched_shrank_.store(false);
}

std::atomic<bool>& MappedFile::Mark() const { return watch_ >= 0 ? g_watched[watch_].shrank : unwatched_shrank_; }

const std::atomic<bool>& MappedFile::shrank_flag() const { return Mark(); }

uint64_t MappedFile::SizeNow() const {
    struct stat info;
    if (!piece_fds_.empty()) {
        // The bytes still there up to the first piece that became shorter.
        uint64_t size = 0;
        for (size_t i = 0; i < piece_fds_.size(); ++i) {
            if (fstat(piece_fds_[i], &info) != 0) return size_;
            const uint64_t now = static_cast<uint64_t>(info.st_size);
            size += std::min(now, piece_sizes_[i]);
            if (now < piece_sizes_[i]) break;
        }
        return size;
    }
    if (fd_ < 0 || fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return size_;
    return static_cast<uint64_t>(info.st_size);
}

bool MappedFile::OpenPieces(const std::vector<std::string>& paths, std::string* error) {
    Close();
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    uint64_t total = 0;
    const auto fail = [&](const std::string& why) {
        *error = why;
        Close();
        return false;
    };
    for (size_t i = 0; i < paths.size(); ++i) {
        const int fd = open(paths[i].c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) piece_fds_.push_back(fd);
        struct stat info;
        if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return fail(Reason("cannot open", paths[i]));
        const uint64_t size = static_cast<uint64_t>(info.st_size);
        if ((i + 1 < paths.size() && size % page != 0) || size == 0) {
            return fail(Quoted(paths[i]) + " does not hold whole pages");
        }
        piece_sizes_.push_back(size);
        total += size;
    }
    if (total == 0 || total > SIZE_MAX / 2) return fail("the pieces are too large to map on this system");
    void* region = mmap(nullptr, static_cast<size_t>(total), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                        -1, 0);
    if (region == MAP_FAILED) return fail(Reason("cannot reserve addresses for", paths[0]));
    data_ = static_cast<const uint8_t*>(region);
    size_ = total;  // from here on Close unmaps the region
    auto* at = static_cast<uint8_t*>(region);
    for (size_t i = 0; i < piece_fds_.size(); ++i) {
        if (mmap(at, static_cast<size_t>(piece_sizes_[i]), PROT_READ, MAP_PRIVATE | MAP_FIXED, piece_fds_[i], 0) !=
            at) {
            return fail(Reason("cannot map", paths[i]));
        }
        madvise(at, static_cast<size_t>(piece_sizes_[i]), MADV_SEQUENTIAL);
        at += piece_sizes_[i];
    }
    watch_ = Watch(data_, size_);
    return true;
}

bool MappedFile::Shrank() const {
    if (Mark().load()) return true;
    if (SizeNow() >= size_) return false;
    Mark().store(true);
    return true;
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
    data_ = static_cast<const uint8_t*>(mapping);
    size_ = static_cast<uint64_t>(length);
    fd_ = file.Release();
    watch_ = Watch(data_, size_);
    return true;
}
