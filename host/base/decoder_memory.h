// The memory that picture decoders on all threads may hold at once: the
// JPEG check's coefficient buffers and a thumbnail's decoding. A decoder
// reserves what its header says it needs; it waits while others hold too
// much of it, and is not run where it needs more than all of it. So peak
// memory does not grow with the number of threads.
#pragma once
#include <cstdint>

// With the rest of hound (some 45 MiB at two threads, 20 more once
// libavformat is loaded) this keeps a run under 100 MB. A progressive
// 4:2:0 JPEG of up to about 15 megapixels fits (3 bytes a pixel).
constexpr uint64_t kDecoderMemory = uint64_t{48} << 20;

// Memory reserved until the hold ends. Declared before a decoder's setjmp,
// so that a longjmp back to it skips no destructor.
class DecoderMemoryHold {
public:
    DecoderMemoryHold() = default;
    ~DecoderMemoryHold() { Release(); }
    DecoderMemoryHold(const DecoderMemoryHold&) = delete;
    DecoderMemoryHold& operator=(const DecoderMemoryHold&) = delete;

    // Reserves bytes in all, waiting while other holds leave too little
    // free; false, with nothing reserved, where bytes exceed kDecoderMemory.
    bool Reserve(uint64_t bytes);
    void Release();

private:
    uint64_t held_ = 0;
};
