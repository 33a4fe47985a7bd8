// The bytes of one Detect call: bounded block reads through the host reader,
// at offsets from the candidate position. Plain data in Detect's frame; no
// allocation, no exception.
#pragma once
#include <cstdint>
#include <cstring>

#include "contract/kx_plugin.h"

namespace formathound {

// No item is longer: a walk that would need a byte past it rejects.
constexpr uint64_t kMaxItemBytes = uint64_t{1} << 40;
// The most bytes one Detect call reads, however often it reads them: walks
// that check every byte (CRCs) of a longer item reject.
constexpr uint64_t kMaxReadBytes = uint64_t{8} << 30;
// The most structural steps (boxes, pages, frames, packets) of one walk.
constexpr uint32_t kMaxSteps = uint32_t{1} << 24;
// The window of bytes held at once; the first fill is small, so that a
// candidate rejected at its first bytes costs little reading.
constexpr uint32_t kWindowBytes = 65536;
constexpr uint32_t kFirstFillBytes = 512;

class Source {
public:
    Source(const HostReader* reader, uint64_t position);

    // Bytes from the candidate position to the data end (or kMaxItemBytes).
    uint64_t size() const { return size_; }
    uint64_t position() const { return position_; }

    // A pointer to count bytes (at most kWindowBytes) at offset, valid until
    // the next call; nullptr when they run past size() or the read budget.
    const uint8_t* Peek(uint64_t offset, uint32_t count);
    // The byte at offset, read alone where the window does not hold it, so
    // that the window stays; false as Peek.
    bool Byte(uint64_t offset, uint8_t* value);
    // Copies count bytes at offset, in windows; false as Peek.
    bool Read(uint64_t offset, void* out, uint64_t count);
    // One structural step of the walk; false once kMaxSteps are taken.
    bool Step() { return ++steps_ <= kMaxSteps; }
    // A fresh step count and read budget for the next walk; the window stays.
    void Restart() {
        steps_ = 0;
        read_ = 0;
    }

    // Big- and little-endian numbers at offset; false when out of reach.
    bool Be16(uint64_t offset, uint32_t* value);
    bool Be32(uint64_t offset, uint32_t* value);
    bool Be64(uint64_t offset, uint64_t* value);
    bool Le16(uint64_t offset, uint32_t* value);
    bool Le32(uint64_t offset, uint32_t* value);
    bool Le64(uint64_t offset, uint64_t* value);

private:
    const HostReader* reader_;
    uint64_t position_;
    uint64_t size_;
    uint64_t read_ = 0;     // bytes asked of the host so far
    uint32_t steps_ = 0;
    uint32_t next_fill_ = kFirstFillBytes;
    // The window holds the bytes at offsets [window_start_, + window_size_).
    uint64_t window_start_ = 0;
    uint32_t window_size_ = 0;
    uint8_t window_[kWindowBytes];
};

inline uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
inline uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint64_t Be64(const uint8_t* p) { return uint64_t{Be32(p)} << 32 | Be32(p + 4); }
inline uint32_t Le16(const uint8_t* p) { return uint32_t{p[1]} << 8 | p[0]; }
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}
inline uint64_t Le64(const uint8_t* p) { return uint64_t{Le32(p + 4)} << 32 | Le32(p); }

// True when the four bytes at p spell name (a chunk, box or form type).
inline bool Is(const uint8_t* p, const char* name) { return std::memcmp(p, name, 4) == 0; }

}  // namespace formathound
