// Bytes from an offset on, handed to a bit reader from windows of the
// Source that grow from 512 bytes to kWindowBytes, so that a candidate
// rejected in its first bytes reads little; each window is one step. Past
// the data it feeds zero bytes and counts them, so that a reader can take
// its last bits whole and then tell whether it took any of those.
#pragma once
#include <cstdint>

#include "formathound/source.h"

namespace formathound {

class WindowFeed {
protected:
    WindowFeed(Source& source, uint64_t at) : source_(source), chunk_at_(at) {}

    // The next byte, or a zero past the data; false when the Source refuses.
    bool NextByte(uint32_t* byte) {
        if (p_ == end_ && !at_end_ && !Fetch()) return false;
        if (p_ < end_) {
            *byte = *p_++;
        } else {
            *byte = 0;
            ++padded_;
        }
        return true;
    }
    // The offset behind the last byte fed, zeros past the data counted.
    uint64_t Fed() const { return chunk_at_ + static_cast<uint64_t>(p_ - base_) + padded_; }

    Source& source_;
    uint32_t padded_ = 0;            // zero bytes fed past the data
    bool at_end_ = false;
    const uint8_t* base_ = nullptr;  // the window, from offset chunk_at_
    const uint8_t* p_ = nullptr;     // the next byte to feed
    const uint8_t* end_ = nullptr;
    uint64_t chunk_at_;
    uint32_t chunk_ = 512;  // bytes of the next window

private:
    // The next window, from the byte behind the last one fed.
    bool Fetch() {
        const uint64_t at = chunk_at_ + static_cast<uint64_t>(p_ - base_);
        if (at == source_.size()) {
            at_end_ = true;
            return true;
        }
        const uint64_t left = source_.size() - at;
        const uint32_t n = left < chunk_ ? static_cast<uint32_t>(left) : chunk_;
        const uint8_t* bytes = source_.Step() ? source_.Peek(at, n) : nullptr;
        if (bytes == nullptr) return false;
        base_ = p_ = bytes;
        end_ = bytes + n;
        chunk_at_ = at;
        if (chunk_ < kWindowBytes) chunk_ *= 2;
        return true;
    }
};

// Bytes read one at a time from an offset on, through the Source in runs
// of up to 4096 bytes. A run stays valid only until the Source's next
// read, so a walk reads nothing else through the Source while it uses one.
class ByteCursor {
public:
    ByteCursor(Source& source, uint64_t at) : source_(source), at_(at) {}
    uint64_t at() const { return at_; }
    void Skip(uint64_t count) { at_ += count; }
    bool Byte(uint8_t* byte) {
        if (bytes_ == nullptr || at_ < start_ || at_ >= end_) {
            const uint64_t left = source_.size() > at_ ? source_.size() - at_ : 0;
            const uint32_t count = left < 4096 ? static_cast<uint32_t>(left) : 4096;
            bytes_ = count > 0 ? source_.Peek(at_, count) : nullptr;
            if (bytes_ == nullptr) return false;
            start_ = at_;
            end_ = at_ + count;
        }
        *byte = bytes_[at_++ - start_];
        return true;
    }

private:
    Source& source_;
    uint64_t at_;
    const uint8_t* bytes_ = nullptr;
    uint64_t start_ = 0, end_ = 0;
};

}  // namespace formathound
