// The bytes of an input that is not one plain file (a compressed or split
// evidence image), laid out at one address range as if the whole media were
// mapped, so that every stage reads them as it reads a file mapping.
//
// Nothing is read until it is touched. The range starts out inaccessible;
// the first read of a window of it faults, the fault handler asks the
// view's pager thread for the window and waits, the pager reads the window
// from the source into one of a fixed number of slots (a memory file) and
// maps that slot at the window's address, and the read is repeated. Slots
// are reused oldest first, so memory stays at slots * kWindow bytes for
// media of any size. Behind each window asked for, the pager reads a few
// ahead while nobody waits, so that a scan going forward seldom waits.
//
// The kernel does not fault on a process's behalf: a system call given an
// address in the view whose window is not mapped fails with EFAULT. Writes
// of these bytes to files copy them through a buffer first (extract.cpp).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class PagedView {
public:
    // Reads size bytes at offset into buffer; false when they cannot be read.
    using ReadFn = std::function<bool(uint64_t offset, uint8_t* buffer, size_t size)>;

    static constexpr size_t kWindow = size_t{1} << 20;

    PagedView();
    ~PagedView();
    PagedView(const PagedView&) = delete;
    PagedView& operator=(const PagedView&) = delete;

    // Lays out size bytes read through read, with room for slots windows at
    // once. False with a one-line reason in *error.
    bool Open(uint64_t size, ReadFn read, size_t slots, std::string* error);

    const uint8_t* data() const;
    uint64_t size() const;
    // Bytes that could not be read from the source: they read as zeros.
    uint64_t unreadable() const;
    // The first of them (meaningful when unreadable() > 0).
    uint64_t first_unreadable() const;

private:
    struct Pager;
    std::unique_ptr<Pager> pager_;
};
