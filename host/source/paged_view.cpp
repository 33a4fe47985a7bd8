// The media of an evidence image laid out in memory and read on demand.
#include "host/source/paged_view.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t kQuit = ~uint64_t{0};
// Windows read ahead of one asked for, while no other request waits.
constexpr uint64_t kReadAhead = 4;
// A failed read is repeated in pieces of this size, so that one bad chunk
// of an image costs only its own bytes.
constexpr size_t kRetryPiece = size_t{64} << 10;

// The views that the fault handler serves. The handler reads only atomics.
struct Served {
    std::atomic<uintptr_t> begin{0}, end{0};
    std::atomic<int> request_fd{-1};
    std::atomic<std::atomic<uint32_t>*> generation{nullptr};
    std::atomic<bool> taken{false};
};
static_assert(std::atomic<uintptr_t>::is_always_lock_free, "the signal handler reads it");
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a futex word");
constexpr int kServedSlots = 16;
Served g_served[kServedSlots];
struct sigaction g_previous;  // the handler in place before ours

void Wake(std::atomic<uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

// A fault in a served view: the window is asked for and the thread waits
// until the pager has answered a request (any), then the read is repeated,
// faulting again if its window is still not there. Only async-signal-safe
// calls: write and futex. A fault anywhere else goes to the handler that
// was there before (a sanitizer's report, or the default action).
void OnFault(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Served& view : g_served) {
        const uintptr_t begin = view.begin.load(), end = view.end.load();
        if (begin == 0 || at < begin || at >= end) continue;
        const int saved_errno = errno;
        std::atomic<uint32_t>* generation = view.generation.load();
        const uint32_t seen = generation->load();
        const uint64_t window = (at - begin) / PagedView::kWindow;
        if (write(view.request_fd.load(), &window, sizeof window) == sizeof window) {
            syscall(SYS_futex, reinterpret_cast<uint32_t*>(generation), FUTEX_WAIT_PRIVATE, seen, nullptr,
                    nullptr, 0);
        }
        errno = saved_errno;
        return;
    }
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    // Back to the default action: the faulting read is repeated and ends the process.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGSEGV, &fallback, nullptr);
}

void InstallFaultHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action = {};
        action.sa_sigaction = &OnFault;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigaction(SIGSEGV, &action, &g_previous);
    });
}

int Serve(uintptr_t begin, uintptr_t end, int request_fd, std::atomic<uint32_t>* generation) {
    InstallFaultHandler();
    for (int i = 0; i < kServedSlots; ++i) {
        bool free = false;
        if (!g_served[i].taken.compare_exchange_strong(free, true)) continue;
        g_served[i].request_fd.store(request_fd);
        g_served[i].generation.store(generation);
        g_served[i].end.store(end);
        g_served[i].begin.store(begin);
        return i;
    }
    return -1;
}

void Unserve(int slot) {
    if (slot < 0) return;
    g_served[slot].begin.store(0);
    g_served[slot].end.store(0);
    g_served[slot].taken.store(false);
}

}  // namespace

struct PagedView::Pager {
    uint8_t* base = nullptr;
    size_t length = 0;  // of the range: size rounded up to whole windows
    uint64_t size = 0;
    uint64_t windows = 0;
    ReadFn read;
    int memory = -1;                  // the slots' memory file
    int requests[2] = {-1, -1};       // the fault handler writes, the pager reads
    std::atomic<uint32_t> generation{0};
    std::vector<uint64_t> slot_window;  // the window each slot holds; kQuit: none
    std::vector<bool> slot_mapped;      // and whether it is mapped at the window's address
    size_t next_victim = 0;
    std::vector<uint8_t> staging;
    std::atomic<uint64_t> unreadable{0};
    std::atomic<uint64_t> first_unreadable{kQuit};
    int served = -1;
    std::thread thread;

    ~Pager() {
        if (thread.joinable()) {
            const uint64_t quit = kQuit;
            if (write(requests[1], &quit, sizeof quit) != sizeof quit) {
                // The pipe is open and empty enough for one word; nothing else to do.
            }
            thread.join();
        }
        Unserve(served);
        if (base != nullptr) munmap(base, length);
        for (int fd : {memory, requests[0], requests[1]}) {
            if (fd >= 0) close(fd);
        }
    }

    static constexpr size_t kNone = ~size_t{0};

    size_t Find(uint64_t window) const {
        const auto at = std::find(slot_window.begin(), slot_window.end(), window);
        return at == slot_window.end() ? kNone : static_cast<size_t>(at - slot_window.begin());
    }

    void Fill(uint64_t offset, size_t count) {
        if (read(offset, staging.data(), count)) return;
        for (size_t done = 0; done < count; done += kRetryPiece) {
            const size_t piece = std::min(kRetryPiece, count - done);
            if (read(offset + done, staging.data() + done, piece)) continue;
            std::memset(staging.data() + done, 0, piece);
            Lost(offset + done, piece);
        }
    }

    void Lost(uint64_t offset, uint64_t count) {
        unreadable.fetch_add(count);
        uint64_t first = first_unreadable.load();
        while (offset < first && !first_unreadable.compare_exchange_weak(first, offset)) {
        }
    }

    // Reads window into a slot, unless one holds it already, without mapping
    // it; the slot, or kNone when the memory file takes no more.
    size_t Prepare(uint64_t window) {
        size_t slot = Find(window);
        if (slot != kNone) return slot;
        slot = Find(kQuit);
        if (slot == kNone) {
            slot = next_victim;
            next_victim = (next_victim + 1) % slot_window.size();
            // Made inaccessible before its slot is refilled: a thread reading
            // it now faults and waits for it again.
            const uint64_t evicted = slot_window[slot];
            const bool mapped = slot_mapped[slot];
            slot_window[slot] = kQuit;
            slot_mapped[slot] = false;
            if (mapped) Unmap(evicted);
        }
        const uint64_t offset = window * kWindow;
        const size_t count = static_cast<size_t>(std::min<uint64_t>(kWindow, size - offset));
        Fill(offset, count);
        std::memset(staging.data() + count, 0, kWindow - count);
        size_t written = 0;
        while (written < kWindow) {
            const ssize_t n = pwrite(memory, staging.data() + written, kWindow - written,
                                     static_cast<off_t>(slot * kWindow + written));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return kNone;
            written += static_cast<size_t>(n);
        }
        slot_window[slot] = window;
        return slot;
    }

    // Makes window inaccessible again. When the other window of its 2 MiB
    // block is not mapped either, the whole block is replaced: the kernel
    // then frees the block's page table, which would otherwise stay for
    // every block ever read (4 GiB of tables for 2 TB of media).
    void Unmap(uint64_t window) {
        uint64_t first = window, count = 1;
        const uint64_t pair = window ^ 1;
        const size_t pair_slot = Find(pair);
        if (pair < windows && (pair_slot == kNone || !slot_mapped[pair_slot])) {
            first = window & ~uint64_t{1};
            count = 2;
        }
        mmap(base + first * kWindow, count * kWindow, PROT_NONE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    }

    // Makes window readable at its address.
    void Map(uint64_t window) {
        if (window >= windows) return;
        const size_t slot = Prepare(window);
        if (slot != kNone && slot_mapped[slot]) return;
        void* at = base + window * kWindow;
        if (slot != kNone && mmap(at, kWindow, PROT_READ, MAP_SHARED | MAP_FIXED | MAP_POPULATE, memory,
                                  static_cast<off_t>(slot * kWindow)) == at) {
            slot_mapped[slot] = true;
            return;
        }
        // No memory for the window: it reads as zeros rather than faulting for ever.
        if (slot != kNone) slot_window[slot] = kQuit;
        mmap(at, kWindow, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        Lost(window * kWindow, std::min<uint64_t>(kWindow, size - window * kWindow));
    }

    bool RequestWaiting() const {
        struct pollfd ready = {requests[0], POLLIN, 0};
        return poll(&ready, 1, 0) > 0;
    }

    void Run() {
        for (;;) {
            uint64_t window = 0;
            const ssize_t got = ::read(requests[0], &window, sizeof window);
            if (got < 0 && errno == EINTR) continue;
            if (got != sizeof window || window == kQuit) return;
            Map(window);
            generation.fetch_add(1);
            Wake(&generation);
            // Read ahead but not mapped: a read of those windows still
            // faults, which keeps the pager going on ahead of it.
            for (uint64_t ahead = 1; ahead <= kReadAhead && !RequestWaiting(); ++ahead) {
                if (window + ahead < windows) Prepare(window + ahead);
            }
        }
    }
};

PagedView::PagedView() = default;
PagedView::~PagedView() = default;

bool PagedView::Open(uint64_t size, ReadFn read, size_t slots, std::string* error) {
    auto pager = std::make_unique<Pager>();
    pager->size = size;
    pager->windows = (size + kWindow - 1) / kWindow;
    if (pager->windows > (SIZE_MAX / kWindow) - 1) {
        *error = "its media is too large for this machine's address space";
        return false;
    }
    pager->length = static_cast<size_t>(pager->windows * kWindow);
    pager->read = std::move(read);
    pager->slot_window.assign(std::max<size_t>(slots, kReadAhead + 2), kQuit);
    pager->slot_mapped.assign(pager->slot_window.size(), false);
    pager->staging.resize(kWindow);
    const auto fail = [&](const char* what) {
        *error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    pager->memory = memfd_create("hound-media", MFD_CLOEXEC);
    if (pager->memory < 0) return fail("cannot make memory for its windows");
    if (ftruncate(pager->memory, static_cast<off_t>(pager->slot_window.size() * kWindow)) != 0) {
        return fail("cannot make memory for its windows");
    }
    if (pipe2(pager->requests, O_CLOEXEC) != 0) return fail("cannot make the pager's pipe");
    // Aligned on 2 MiB, so that pairs of windows fill whole page tables (Unmap).
    const size_t align = 2 * kWindow;
    void* reserved = mmap(nullptr, pager->length + align, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                          -1, 0);
    if (reserved == MAP_FAILED) return fail("cannot reserve addresses for its media");
    const uintptr_t start = reinterpret_cast<uintptr_t>(reserved);
    const uintptr_t aligned = (start + align - 1) / align * align;
    if (aligned > start) munmap(reserved, aligned - start);
    munmap(reinterpret_cast<void*>(aligned + pager->length), start + align - aligned);
    void* base = reinterpret_cast<void*>(aligned);
    pager->base = static_cast<uint8_t*>(base);
    pager->served = Serve(reinterpret_cast<uintptr_t>(base), reinterpret_cast<uintptr_t>(base) + pager->length,
                          pager->requests[1], &pager->generation);
    if (pager->served < 0) {
        *error = "too many evidence images are open at once";
        return false;
    }
    Pager* raw = pager.get();
    pager->thread = std::thread([raw] { raw->Run(); });
    pager_ = std::move(pager);
    return true;
}

const uint8_t* PagedView::data() const { return pager_ ? pager_->base : nullptr; }
uint64_t PagedView::size() const { return pager_ ? pager_->size : 0; }
uint64_t PagedView::unreadable() const { return pager_ ? pager_->unreadable.load() : 0; }
uint64_t PagedView::first_unreadable() const { return pager_ ? pager_->first_unreadable.load() : 0; }
