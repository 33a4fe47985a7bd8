// Memory routines over the C library's malloc family.
#include "markhound/support/memory.h"

#include <cstdlib>
#include <cstring>

namespace {
MemFailureHook g_failure_hook = nullptr;

bool Refused(std::size_t size) { return g_failure_hook != nullptr && g_failure_hook(size); }
}  // namespace

void MemSetFailureHook(MemFailureHook hook) { g_failure_hook = hook; }

void* MemAlloc(std::size_t size) { return Refused(size) ? nullptr : std::malloc(size); }

void MemFree(void* p) { std::free(p); }

void* MemRealloc(void* p, std::size_t size) {
    if (Refused(size)) return nullptr;
    return p == nullptr ? std::malloc(size) : std::realloc(p, size);
}

void MemMove(void* dst, const void* src, std::size_t n) {
    if (dst == nullptr || src == nullptr || n == 0) return;
    std::memmove(dst, src, n);
}
