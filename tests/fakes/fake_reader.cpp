// Fake host reader over memory, with a call log.
#include "tests/fakes/fake_reader.h"

#include <cstring>

FakeReader::FakeReader(std::vector<uint8_t> data, uint64_t base, std::vector<uint8_t> fill)
    : data_(std::move(data)), base_(base), fill_(std::move(fill)), length_(base_ + data_.size()) {
    reader_.context = this;
    reader_.ReadByte = &ReadByteThunk;
    reader_.ReadBlock = &ReadBlockThunk;
    reader_.GetSize = &GetSizeThunk;
}

uint8_t FakeReader::ByteAt(uint64_t position) const {
    const uint64_t index = position - base_;
    if (position >= base_ && index < data_.size()) return data_[index];
    if (fill_.empty()) return 0;
    return fill_[index % fill_.size()];
}

size_t FakeReader::Count(Kind kind) const {
    size_t n = 0;
    for (const Call& call : calls_) n += call.kind == kind;
    return n;
}

std::vector<uint64_t> FakeReader::BytePositions() const {
    std::vector<uint64_t> positions;
    for (const Call& call : calls_) {
        if (call.kind == Kind::ReadByte) positions.push_back(call.position);
    }
    return positions;
}

uint32_t KX_CALL FakeReader::ReadByteThunk(void* context, uint64_t position) {
    auto* self = static_cast<FakeReader*>(context);
    self->calls_.push_back({Kind::ReadByte, position, 1});
    // The upper bits are noise a plug-in must ignore.
    return 0xA5A5A500u | self->ByteAt(position);
}

uint32_t KX_CALL FakeReader::ReadBlockThunk(void* context, void* buffer, uint64_t position,
                                            uint64_t count) {
    auto* self = static_cast<FakeReader*>(context);
    self->calls_.push_back({Kind::ReadBlock, position, count});
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint64_t i = 0; i < count; ++i) {
        if (self->short_blocks_ && position + i >= self->length_) break;
        out[i] = self->ByteAt(position + i);
    }
    return 0xDEADBEEFu;
}

uint64_t KX_CALL FakeReader::GetSizeThunk(void* context) {
    auto* self = static_cast<FakeReader*>(context);
    self->calls_.push_back({Kind::GetSize, 0, 0});
    return self->length_;
}

FoundItem PoisonedItem() {
    FoundItem item;
    std::memset(&item, 0x5C, sizeof item);
    return item;
}

bool SameItem(const FoundItem& a, const FoundItem& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
