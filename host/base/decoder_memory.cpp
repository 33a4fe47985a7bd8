#include "host/base/decoder_memory.h"

#include <condition_variable>
#include <mutex>

namespace {

std::mutex g_mutex;
std::condition_variable g_released;
uint64_t g_free = kDecoderMemory;

}  // namespace

bool DecoderMemoryHold::Reserve(uint64_t bytes) {
    Release();
    if (bytes > kDecoderMemory) return false;
    std::unique_lock<std::mutex> lock(g_mutex);
    g_released.wait(lock, [&] { return g_free >= bytes; });
    g_free -= bytes;
    held_ = bytes;
    return true;
}

void DecoderMemoryHold::Release() {
    if (held_ == 0) return;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_free += held_;
        held_ = 0;
    }
    g_released.notify_all();
}
