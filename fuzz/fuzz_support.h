// Shared pieces of the fuzz targets: an input consumer, a failed-check exit
// that libFuzzer reports as a crash, and a recording host reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "contract/kx_plugin.h"

// Aborts with the broken invariant, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                         #condition);                                                \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// Takes fixed-size fields from the front of the input; an exhausted input
// answers zeros, so every input describes some case.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
        return value;
    }
    uint64_t U64() { return U32() | static_cast<uint64_t>(U32()) << 32; }
    // What the fields did not take.
    const uint8_t* Rest() const { return data_ + offset_; }
    size_t RestSize() const { return size_ - offset_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

// Serves data at base, a repeating fill pattern everywhere else (zeros when
// the fill is empty), reports length() to GetSize and records every call.
class RecordingReader {
public:
    enum class Kind { kReadByte, kReadBlock, kGetSize };
    struct Call {
        Kind kind;
        uint64_t position;
        uint64_t count;
        bool operator==(const Call& other) const {
            return kind == other.kind && position == other.position && count == other.count;
        }
    };

    RecordingReader(const uint8_t* data, size_t size, uint64_t base, std::vector<uint8_t> fill,
                    uint64_t length, uint32_t noise)
        : data_(data), size_(size), base_(base), fill_(std::move(fill)), length_(length),
          noise_(noise & 0xFFFFFF00u) {
        reader_.context = this;
        reader_.ReadByte = &ReadByteThunk;
        reader_.ReadBlock = &ReadBlockThunk;
        reader_.GetSize = &GetSizeThunk;
    }

    const HostReader* reader() const { return &reader_; }
    uint64_t length() const { return length_; }
    const std::vector<Call>& calls() const { return calls_; }
    // Stops recording ReadByte calls beyond this many (the count goes on).
    void set_log_limit(size_t limit) { log_limit_ = limit; }
    uint64_t byte_reads() const { return byte_reads_; }

    uint8_t ByteAt(uint64_t position) const {
        const uint64_t index = position - base_;  // wraps: positions below base are past the end
        if (index < size_) return data_[index];
        if (fill_.empty()) return 0;
        return fill_[(index - size_) % fill_.size()];
    }

private:
    static uint32_t KX_CALL ReadByteThunk(void* context, uint64_t position) {
        auto* self = static_cast<RecordingReader*>(context);
        ++self->byte_reads_;
        if (self->calls_.size() < self->log_limit_) self->calls_.push_back({Kind::kReadByte, position, 1});
        // The upper bits are noise a plug-in must ignore.
        return self->noise_ | self->ByteAt(position);
    }
    static uint32_t KX_CALL ReadBlockThunk(void* context, void* buffer, uint64_t position,
                                           uint64_t count) {
        auto* self = static_cast<RecordingReader*>(context);
        self->calls_.push_back({Kind::kReadBlock, position, count});
        auto* out = static_cast<uint8_t*>(buffer);
        for (uint64_t i = 0; i < count; ++i) out[i] = self->ByteAt(position + i);
        return 0xDEADBEEFu;
    }
    static uint64_t KX_CALL GetSizeThunk(void* context) {
        auto* self = static_cast<RecordingReader*>(context);
        self->calls_.push_back({Kind::kGetSize, 0, 0});
        return self->length_;
    }

    const uint8_t* data_;
    size_t size_;
    uint64_t base_;
    std::vector<uint8_t> fill_;
    uint64_t length_;
    uint32_t noise_;
    std::vector<Call> calls_;
    size_t log_limit_ = SIZE_MAX;
    uint64_t byte_reads_ = 0;
    HostReader reader_;
};

// A record filled with a recognisable pattern, to show that it was left alone.
inline FoundItem PoisonedItem() {
    FoundItem item;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&item);
    for (size_t i = 0; i < sizeof item; ++i) bytes[i] = 0x5C;
    return item;
}

inline bool SameBytes(const FoundItem& a, const FoundItem& b) {
    const uint8_t* x = reinterpret_cast<const uint8_t*>(&a);
    const uint8_t* y = reinterpret_cast<const uint8_t*>(&b);
    for (size_t i = 0; i < sizeof a; ++i) {
        if (x[i] != y[i]) return false;
    }
    return true;
}

// A 64-bit base picked by one input byte: low positions, the 2^32 boundary
// and the top of the 64-bit range, where position sums carry or wrap.
inline uint64_t PickBase(uint8_t choice) {
    switch (choice % 4) {
        case 0: return 0;
        case 1: return (uint64_t{1} << 32) - (choice >> 2);
        case 2: return ~uint64_t{0} - (choice >> 2);
        default: return uint64_t{choice} << 40;
    }
}
