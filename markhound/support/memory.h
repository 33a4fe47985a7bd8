// Memory routines: every heap block of markhound goes through these three.
#pragma once
#include <cstddef>

void* MemAlloc(std::size_t size);
void MemFree(void* p);
void* MemRealloc(void* p, std::size_t size);
void MemMove(void* dst, const void* src, std::size_t n);

// Lets a test or fuzz driver make allocations fail: the hook sees each
// request's size and answers true to refuse it. Null restores normal service.
using MemFailureHook = bool (*)(std::size_t size);
void MemSetFailureHook(MemFailureHook hook);

// Base for objects made with `new`: allocation through MemAlloc, a null
// result instead of an exception (the new-expression then skips the
// constructor), release through MemFree.
struct HeapObject {
    static void* operator new(std::size_t size) noexcept { return MemAlloc(size); }
    static void operator delete(void* p) noexcept { MemFree(p); }
};
