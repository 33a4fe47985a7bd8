#include "formathound/source.h"

#include <algorithm>
#include <cstring>

namespace formathound {

Source::Source(const HostReader* reader, uint64_t position) : reader_(reader), position_(position) {
    const uint64_t data_size = reader->GetSize(reader->context);
    size_ = data_size > position ? std::min(data_size - position, kMaxItemBytes) : 0;
}

const uint8_t* Source::Peek(uint64_t offset, uint32_t count) {
    if (count > kWindowBytes || offset > size_ || count > size_ - offset) return nullptr;
    if (offset >= window_start_ && offset - window_start_ + count <= window_size_) {
        return window_ + (offset - window_start_);
    }
    // Refill from offset: small at first, doubling while the walk goes on.
    const uint32_t fill = static_cast<uint32_t>(
        std::min<uint64_t>(std::max(count, next_fill_), size_ - offset));
    if (read_ + fill > kMaxReadBytes) return nullptr;
    reader_->ReadBlock(reader_->context, window_, position_ + offset, fill);
    read_ += fill;
    window_start_ = offset;
    window_size_ = fill;
    next_fill_ = std::min<uint32_t>(next_fill_ * 2, kWindowBytes);
    return window_;
}

bool Source::Byte(uint64_t offset, uint8_t* value) {
    if (offset >= size_) return false;
    if (offset >= window_start_ && offset - window_start_ < window_size_) {
        *value = window_[offset - window_start_];
        return true;
    }
    if (read_ + 1 > kMaxReadBytes) return false;
    reader_->ReadBlock(reader_->context, value, position_ + offset, 1);
    ++read_;
    return true;
}

bool Source::Read(uint64_t offset, void* out, uint64_t count) {
    auto* to = static_cast<uint8_t*>(out);
    while (count > 0) {
        const uint32_t part = static_cast<uint32_t>(std::min<uint64_t>(count, kWindowBytes));
        const uint8_t* bytes = Peek(offset, part);
        if (bytes == nullptr) return false;
        std::memcpy(to, bytes, part);
        to += part;
        offset += part;
        count -= part;
    }
    return true;
}

#define FORMATHOUND_NUMBER(Name, Type, Bytes)                \
    bool Source::Name(uint64_t offset, Type* value) {        \
        const uint8_t* p = Peek(offset, Bytes);              \
        if (p == nullptr) return false;                      \
        *value = formathound::Name(p);                       \
        return true;                                         \
    }
FORMATHOUND_NUMBER(Be16, uint32_t, 2)
FORMATHOUND_NUMBER(Be32, uint32_t, 4)
FORMATHOUND_NUMBER(Be64, uint64_t, 8)
FORMATHOUND_NUMBER(Le16, uint32_t, 2)
FORMATHOUND_NUMBER(Le32, uint32_t, 4)
FORMATHOUND_NUMBER(Le64, uint64_t, 8)
#undef FORMATHOUND_NUMBER

}  // namespace formathound
