// A host reader for hostile spans: a little data at position 0, a fill
// pattern everywhere else, any reported length (2^40 costs nothing), and
// counters instead of a call log.
#pragma once
#include <cstdint>
#include <vector>

#include "contract/kx_plugin.h"

class SparseReader {
public:
    SparseReader(std::vector<uint8_t> data, std::vector<uint8_t> fill, uint64_t length)
        : data_(std::move(data)), fill_(std::move(fill)), length_(length) {
        reader_ = HostReader{this, &ReadByteThunk, &ReadBlockThunk, &GetSizeThunk};
    }
    const HostReader* reader() const { return &reader_; }

    uint64_t byte_reads = 0;
    uint64_t other_calls = 0;      // ReadBlock and GetSize
    uint64_t highest_read = 0;     // the highest position ReadByte was asked for
    uint64_t last_read = 0;        // the position of the latest ReadByte
    bool reads_in_order = true;    // every ReadByte one past the one before

private:
    uint8_t ByteAt(uint64_t position) const {
        if (position < data_.size()) return data_[position];
        if (fill_.empty()) return 0;
        return fill_[(position - data_.size()) % fill_.size()];
    }
    static uint32_t KX_CALL ReadByteThunk(void* context, uint64_t position) {
        auto* self = static_cast<SparseReader*>(context);
        if (self->byte_reads != 0 && position != self->last_read + 1) self->reads_in_order = false;
        ++self->byte_reads;
        self->last_read = position;
        if (position > self->highest_read) self->highest_read = position;
        return self->ByteAt(position);
    }
    static uint32_t KX_CALL ReadBlockThunk(void* context, void* buffer, uint64_t position, uint64_t count) {
        auto* self = static_cast<SparseReader*>(context);
        ++self->other_calls;
        auto* out = static_cast<uint8_t*>(buffer);
        for (uint64_t i = 0; i < count; ++i) out[i] = self->ByteAt(position + i);
        return 0;
    }
    static uint64_t KX_CALL GetSizeThunk(void* context) {
        auto* self = static_cast<SparseReader*>(context);
        ++self->other_calls;
        return self->length_;
    }

    std::vector<uint8_t> data_;
    std::vector<uint8_t> fill_;
    uint64_t length_;
    HostReader reader_;
};
