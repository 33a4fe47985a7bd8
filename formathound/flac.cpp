// FLAC streams: "fLaC", metadata blocks (STREAMINFO first), then frames.
// A frame header (sync 0xFFF8/0xFFF9, block size, sample rate, channels,
// sample size, the UTF-8 coded frame or sample number, CRC-8) tells no
// frame length: a frame runs to the next header that holds and numbers the
// next frame, where the CRC-16 of the frame, kept while scanning, holds.
// The last frame, which no header follows, is measured by reading its
// subframes (Rice-coded residuals) to their end and its CRC-16 checked.
// The item ends behind the frame that completes STREAMINFO's total samples;
// with the total unknown, behind the last frame whose CRC-16 holds.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

// CRC-8 (polynomial 0x07) and CRC-16 (0x8005), MSB first, initial value 0.
struct CrcTables {
    uint8_t crc8[256];
    uint16_t crc16[256];
    constexpr CrcTables() : crc8(), crc16() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c8 = i, c16 = i << 8;
            for (int bit = 0; bit < 8; ++bit) {
                c8 = c8 & 0x80 ? (c8 << 1 ^ 0x07) & 0xFF : c8 << 1;
                c16 = c16 & 0x8000 ? (c16 << 1 ^ 0x8005) & 0xFFFF : c16 << 1;
            }
            crc8[i] = static_cast<uint8_t>(c8);
            crc16[i] = static_cast<uint16_t>(c16);
        }
    }
};
constexpr CrcTables kCrc;

uint32_t Crc16(uint32_t crc, uint8_t byte) {
    return (crc << 8 ^ kCrc.crc16[(crc >> 8 ^ byte) & 0xFF]) & 0xFFFF;
}

struct StreamInfo {
    uint32_t max_block, max_frame, channels, bits;
    uint64_t total;  // samples per channel, 0: unknown
};

struct Header {
    uint32_t length;  // bytes with the CRC-8
    uint32_t block;   // samples
    bool variable;    // numbered by sample, not by frame
    uint32_t channels, bits;  // channel assignment code, bits per sample
};

constexpr uint32_t kMaxHeader = 16;

// The frame header at offset whose number is expected (frames so far, or
// samples so far for variable blocking); false when any of it fails.
bool ReadHeader(Source& source, uint64_t at, const StreamInfo& info, uint64_t frames, uint64_t samples,
                Header* header) {
    const uint64_t left = source.size() - at;
    const uint8_t* p = source.Peek(at, left < kMaxHeader ? static_cast<uint32_t>(left) : kMaxHeader);
    if (p == nullptr || left < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return false;
    const uint32_t block_code = p[2] >> 4, rate_code = p[2] & 0xF;
    const uint32_t channels = p[3] >> 4, size_code = p[3] >> 1 & 7;
    if (block_code == 0 || rate_code == 15 || channels > 10 || size_code == 3 || (p[3] & 1)) return false;
    // The number, coded as UTF-8 of up to seven bytes.
    uint32_t n = 4, extra = 0;
    uint64_t number = p[n];
    if (p[n] >= 0x80) {
        if (p[n] < 0xC0 || p[n] == 0xFF) return false;
        while (p[n] & (0x40 >> extra) && extra < 6) ++extra;
        number = extra == 6 ? 0 : p[n] & (0x3F >> extra);
    }
    if (left < 5 + extra + 4) return false;
    for (uint32_t i = 1; i <= extra; ++i) {
        if ((p[n + i] & 0xC0) != 0x80) return false;
        number = number << 6 | (p[n + i] & 0x3F);
    }
    n += 1 + extra;
    uint32_t block = 0;
    if (block_code == 1) block = 192;
    else if (block_code <= 5) block = 576u << (block_code - 2);
    else if (block_code == 6) block = p[n++] + 1u;
    else if (block_code == 7) block = Be16(p + (n += 2) - 2) + 1;
    else block = 256u << (block_code - 8);
    if (rate_code == 12) n += 1;
    else if (rate_code >= 13) n += 2;
    if (n + 1 > left) return false;
    uint32_t crc = 0;
    for (uint32_t i = 0; i <= n; ++i) crc = kCrc.crc8[crc ^ p[i]];
    const bool variable = p[1] & 1;
    if (crc != 0 || number != (variable ? samples : frames) || (info.max_block && block > info.max_block))
        return false;
    constexpr uint32_t kBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    *header = {n + 1, block, variable, channels, size_code == 0 ? info.bits : kBits[size_code]};
    return true;
}

// The most bytes a frame of this header can take: every subframe verbatim,
// one bit more for a side channel, with subframe headers and padding.
uint64_t MaxFrame(const Header& header) {
    const uint64_t channels = header.channels < 8 ? header.channels + 1 : 2;
    return header.length + 2 + (uint64_t{header.block} * (header.bits + 1) + 64) * channels / 8 + 8;
}

// Bits of the frame, read through the Source up to a limit.
class BitReader {
public:
    BitReader(Source& source, uint64_t at, uint64_t limit) : source_(source), bit_(at * 8), limit_(limit * 8) {}
    bool ok() const { return ok_ && bit_ <= limit_; }
    uint64_t bit() const { return bit_; }
    // Past the limit, the reader stays past it (and not ok).
    void Skip(uint64_t bits) { bit_ = bit_ > limit_ || bits > limit_ - bit_ ? limit_ + 1 : bit_ + bits; }
    uint32_t Bits(uint32_t count) {
        uint32_t value = 0;
        while (count-- > 0 && ok()) value = value << 1 | Bit();
        return value;
    }
    // The zeros before the next one bit.
    uint32_t Unary() {
        uint32_t zeros = 0;
        while (ok() && Bit() == 0) ++zeros;
        return zeros;
    }

private:
    uint32_t Bit() {
        const uint64_t byte = bit_ >> 3;
        if (chunk_ == nullptr || byte < chunk_at_ || byte >= chunk_end_) {
            const uint64_t left = source_.size() > byte ? source_.size() - byte : 0;
            const uint32_t count = left < 4096 ? static_cast<uint32_t>(left) : 4096;
            chunk_ = count > 0 ? source_.Peek(byte, count) : nullptr;
            if (chunk_ == nullptr) {
                ok_ = false;
                return 1;
            }
            chunk_at_ = byte;
            chunk_end_ = byte + count;
        }
        const uint32_t value = chunk_[byte - chunk_at_] >> (7 - (bit_ & 7)) & 1;
        ++bit_;
        return value;
    }

    Source& source_;
    uint64_t bit_, limit_;
    bool ok_ = true;
    const uint8_t* chunk_ = nullptr;
    uint64_t chunk_at_ = 0, chunk_end_ = 0;
};

// The residual of a subframe: Rice-coded partitions, or escaped raw bits.
bool SkipResidual(BitReader& bits, uint32_t block, uint32_t order) {
    const uint32_t method = bits.Bits(2);
    if (method > 1) return false;
    const uint32_t parameter_bits = method ? 5 : 4, escape = method ? 31 : 15;
    const uint32_t partition_order = bits.Bits(4);
    const uint32_t per_partition = block >> partition_order;
    if (per_partition << partition_order != block || per_partition < order) return false;
    for (uint32_t i = 0; i < (uint32_t{1} << partition_order) && bits.ok(); ++i) {
        const uint32_t count = i == 0 ? per_partition - order : per_partition;
        const uint32_t parameter = bits.Bits(parameter_bits);
        if (parameter == escape) {
            bits.Skip(uint64_t{count} * bits.Bits(5));
            continue;
        }
        for (uint32_t k = 0; k < count && bits.ok(); ++k) {
            bits.Unary();
            bits.Skip(parameter);
        }
    }
    return bits.ok();
}

// The frame's length from its subframes, read to its end; 0 when they do
// not parse or run past limit.
uint64_t FrameLength(Source& source, uint64_t at, const Header& header, uint64_t limit) {
    BitReader bits(source, at + header.length, limit);
    const uint32_t channels = header.channels < 8 ? header.channels + 1 : 2;
    for (uint32_t c = 0; c < channels; ++c) {
        // A side channel carries one bit more.
        const bool side = (header.channels == 8 && c == 1) || (header.channels == 9 && c == 0) ||
                          (header.channels == 10 && c == 1);
        uint32_t sample_bits = header.bits + (side ? 1 : 0);
        if (bits.Bits(1) != 0) return 0;
        const uint32_t type = bits.Bits(6);
        if (bits.Bits(1)) {
            const uint32_t wasted = bits.Unary() + 1;
            if (wasted >= sample_bits) return 0;
            sample_bits -= wasted;
        }
        if (type == 0) {
            bits.Skip(sample_bits);
        } else if (type == 1) {
            bits.Skip(uint64_t{header.block} * sample_bits);
        } else if (type >= 8 && type <= 12) {
            bits.Skip(uint64_t{type - 8} * sample_bits);
            if (!SkipResidual(bits, header.block, type - 8)) return 0;
        } else if (type >= 32) {
            const uint32_t order = type - 31;
            bits.Skip(uint64_t{order} * sample_bits);
            const uint32_t precision = bits.Bits(4) + 1;
            if (precision == 16) return 0;
            bits.Skip(5 + uint64_t{order} * precision);
            if (!SkipResidual(bits, header.block, order)) return 0;
        } else {
            return 0;
        }
        if (!bits.ok()) return 0;
    }
    const uint64_t end = (bits.bit() + 7) / 8 + 2;  // padding, then the CRC-16
    return end <= limit ? end - at : 0;
}

// The CRC-16 of count bytes at offset; false when out of reach.
bool Crc16Of(Source& source, uint64_t at, uint64_t count, uint32_t* crc) {
    *crc = 0;
    while (count > 0) {
        const uint32_t part = count < 4096 ? static_cast<uint32_t>(count) : 4096;
        const uint8_t* bytes = source.Peek(at, part);
        if (bytes == nullptr) return false;
        for (uint32_t i = 0; i < part; ++i) *crc = Crc16(*crc, bytes[i]);
        at += part;
        count -= part;
    }
    return true;
}

// The last frame, which no header follows: its length read from its
// subframes, its CRC-16 checked; sets end behind it.
bool LastFrameHolds(Source& source, uint64_t at, const Header& header, uint64_t limit, uint64_t* end) {
    const uint64_t length = FrameLength(source, at, header, limit < source.size() ? limit : source.size());
    uint32_t crc = 1;
    if (length == 0 || !Crc16Of(source, at, length, &crc) || crc != 0) return false;
    *end = at + length;
    return true;
}

}  // namespace

bool WalkFlac(Source& source, Found* found) {
    const uint8_t* head = source.Peek(0, 4 + 4 + 34);
    // STREAMINFO first, of 34 bytes.
    if (head == nullptr || std::memcmp(head, "fLaC", 4) != 0 || (head[4] & 0x7F) != 0 ||
        (Be32(head + 4) & 0xFFFFFF) != 34)
        return false;
    const uint8_t* s = head + 8;
    StreamInfo info;
    const uint32_t min_block = Be16(s);
    info.max_block = Be16(s + 2);
    info.max_frame = s[7] << 16 | s[8] << 8 | s[9];
    const uint32_t rate = s[10] << 12 | s[11] << 4 | s[12] >> 4;
    info.channels = (s[12] >> 1 & 7) + 1;
    info.bits = ((s[12] & 1) << 4 | s[13] >> 4) + 1;
    info.total = uint64_t{s[13] & 0xFu} << 32 | Be32(s + 14);
    if (min_block < 16 || info.max_block < min_block || rate == 0 || info.bits < 4) return false;
    // The metadata blocks, to the one flagged last.
    uint64_t at = 4;
    for (bool last = false; !last;) {
        const uint8_t* block = source.Peek(at, 4);
        if (!source.Step() || block == nullptr || (block[0] & 0x7F) == 127 || (at > 4 && (block[0] & 0x7F) == 0))
            return false;
        last = block[0] & 0x80;
        at += 4 + (Be32(block) & 0xFFFFFF);
        if (at > source.size()) return false;
    }

    Header header;
    uint64_t frames = 0, samples = 0, end = 0;  // end: behind the last whole frame
    if (!ReadHeader(source, at, info, 0, 0, &header)) return false;
    for (;;) {
        if (!source.Step()) return false;
        const bool variable = header.variable;
        samples += header.block;
        ++frames;
        if (info.total != 0 && samples > info.total) return false;
        const bool last = info.total != 0 && samples == info.total;
        // Scan for the frame's end, the CRC-16 kept over the bytes so far.
        const uint64_t limit = at + (info.max_frame ? info.max_frame : MaxFrame(header));
        if (last) {
            if (!LastFrameHolds(source, at, header, limit, &end)) return false;
            break;
        }
        uint64_t next = 0, first_end = 0;
        uint32_t crc = 0;
        const uint8_t* chunk = nullptr;
        uint64_t chunk_at = 0, chunk_end = 0;
        for (uint64_t q = at; q <= limit && q <= source.size(); ++q) {
            if (q >= at + header.length + 3 && crc == 0) {
                if (first_end == 0) first_end = q;
                if (q + 1 < source.size()) {
                    if (chunk == nullptr || q + 2 > chunk_end) chunk = nullptr;
                    const uint8_t* sync = chunk != nullptr ? chunk + (q - chunk_at) : source.Peek(q, 2);
                    Header following;
                    if (sync != nullptr && sync[0] == 0xFF && sync[1] == (variable ? 0xF9 : 0xF8) &&
                        ReadHeader(source, q, info, frames, samples, &following)) {
                        next = q;
                        header = following;
                        break;
                    }
                    chunk = nullptr;  // the header read may have moved the window
                }
            }
            if (q == source.size()) break;
            if (chunk == nullptr || q >= chunk_end) {
                const uint64_t left = source.size() - q;
                chunk = source.Peek(q, left < 4096 ? static_cast<uint32_t>(left) : 4096);
                if (chunk == nullptr) return false;  // past the read budget
                chunk_at = q;
                chunk_end = q + (left < 4096 ? left : 4096);
            }
            crc = Crc16(crc, chunk[q - chunk_at]);
        }
        if (next != 0) {
            end = next;
            at = next;
            continue;
        }
        // No next frame: this one ends the stream, complete only when the
        // total is unknown; else the stream ends behind the frame before.
        if (info.total != 0) return false;
        if (first_end == 0 || !LastFrameHolds(source, at, header, limit, &end)) {
            if (end == 0) return false;
        }
        break;
    }
    *found = {end, "flac", "FLAC audio"};
    return true;
}

}  // namespace formathound
