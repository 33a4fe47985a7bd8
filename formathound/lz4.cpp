// LZ4 frames: magic, frame descriptor (version 01, reserved bits clear,
// block maximum 64 KiB to 4 MiB, optional content size and dictionary ID)
// with its xxHash32 check byte, blocks of 4-byte sizes (high bit: stored
// uncompressed) no larger than the block maximum, each with its xxHash32
// when flagged, the end mark and the content checksum when flagged.
// Compressed blocks are parsed sequence by sequence (token, literals,
// offset, match length) without decoding: each must end on a literal run,
// reach back no further than the data before it, and produce no more than
// the block maximum. The content size, when stated, must equal what the
// blocks produce. The legacy frame has no end mark, so it is not walked.
#include "formathound/walks.h"
#include "formathound/window_feed.h"

namespace formathound {

namespace {

constexpr uint32_t kMagic = 0x184D2204u;
constexpr uint32_t kUncompressed = 0x80000000u;
constexpr uint32_t kMinMatch = 4;
constexpr uint64_t kHistory = 64 * 1024;  // the furthest an offset reaches
constexpr uint8_t kIndependent = 0x20, kBlockChecksum = 0x10, kContentSize = 0x08, kContentChecksum = 0x04,
                  kDictionary = 0x01;

constexpr uint32_t kPrime1 = 0x9E3779B1u, kPrime2 = 0x85EBCA77u, kPrime3 = 0xC2B2AE3Du, kPrime4 = 0x27D4EB2Fu,
                   kPrime5 = 0x165667B1u;

uint32_t Rotate(uint32_t value, int bits) { return value << bits | value >> (32 - bits); }
uint32_t Round(uint32_t acc, uint32_t lane) { return Rotate(acc + lane * kPrime2, 13) * kPrime1; }

// xxHash32 (seed 0) of count bytes at offset, read in windows.
bool Xxh32Of(Source& source, uint64_t at, uint64_t count, uint32_t* hash) {
    uint32_t v[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
    uint64_t left = count;
    while (left >= 16) {
        const uint64_t whole = left / 16 * 16;
        const uint32_t part = whole < kWindowBytes ? static_cast<uint32_t>(whole) : kWindowBytes;
        const uint8_t* p = source.Peek(at, part);
        if (p == nullptr) return false;
        for (uint32_t i = 0; i < part; i += 16) {
            for (int lane = 0; lane < 4; ++lane) v[lane] = Round(v[lane], Le32(p + i + 4 * lane));
        }
        at += part;
        left -= part;
    }
    uint32_t h = count >= 16 ? Rotate(v[0], 1) + Rotate(v[1], 7) + Rotate(v[2], 12) + Rotate(v[3], 18) : kPrime5;
    h += static_cast<uint32_t>(count);
    const uint8_t* p = left > 0 ? source.Peek(at, static_cast<uint32_t>(left)) : nullptr;
    if (left > 0 && p == nullptr) return false;
    uint32_t i = 0;
    for (; i + 4 <= left; i += 4) h = Rotate(h + Le32(p + i) * kPrime3, 17) * kPrime4;
    for (; i < left; ++i) h = Rotate(h + p[i] * kPrime5, 11) * kPrime1;
    h ^= h >> 15;
    h *= kPrime2;
    h ^= h >> 13;
    h *= kPrime3;
    h ^= h >> 16;
    *hash = h;
    return true;
}

// Bytes read one by one from offset on, through the Source.
class Cursor : public ByteCursor {
public:
    using ByteCursor::ByteCursor;
    // A length field's extension: bytes added while they are 255.
    bool Extend(uint64_t* length, uint64_t end) {
        uint8_t byte = 255;
        while (byte == 255) {
            if (at() >= end || !Byte(&byte)) return false;
            *length += byte;
        }
        return true;
    }
};

// The sequences of a compressed block of size bytes at offset at; history
// is how far back before the block an offset may reach. Sets the bytes
// the block produces.
bool SequencesHold(Source& source, uint64_t at, uint32_t size, uint64_t history, uint64_t block_max,
                   uint64_t* produced) {
    const uint64_t end = at + size;
    Cursor cursor(source, at);
    uint64_t out = 0;
    for (;;) {
        uint8_t token = 0;
        if (cursor.at() >= end || !cursor.Byte(&token)) return false;
        uint64_t literals = token >> 4;
        if (literals == 15 && !cursor.Extend(&literals, end)) return false;
        if (literals > end - cursor.at()) return false;
        cursor.Skip(literals);
        out += literals;
        if (cursor.at() == end) break;  // the last sequence: literals alone
        uint8_t low = 0, high = 0;
        if (end - cursor.at() < 2 || !cursor.Byte(&low) || !cursor.Byte(&high)) return false;
        const uint32_t offset = low | uint32_t{high} << 8;
        uint64_t match = token & 15;
        if (offset == 0 || offset > out + history || (match == 15 && !cursor.Extend(&match, end))) return false;
        out += match + kMinMatch;
        if (out > block_max) return false;
    }
    *produced = out;
    return out <= block_max;
}

}  // namespace

bool WalkLz4(Source& source, Found* found) {
    uint8_t head[19];
    if (source.size() < 7 || !source.Read(0, head, 7) || Le32(head) != kMagic) return false;
    const uint8_t flags = head[4], descriptor = head[5];
    const uint32_t code = descriptor >> 4 & 7;
    if ((flags >> 6) != 1 || (flags & 0x02) || (descriptor & 0x8F) || code < 4) return false;
    const uint32_t length = 2 + (flags & kContentSize ? 8 : 0) + (flags & kDictionary ? 4 : 0);
    uint32_t check = 0;
    if (!source.Read(0, head, 4 + length + 1) || !Xxh32Of(source, 4, length, &check) ||
        (check >> 8 & 0xFF) != head[4 + length])
        return false;
    const uint64_t block_max = uint64_t{1} << (8 + 2 * code);
    const uint64_t content_size = flags & kContentSize ? Le64(head + 6) : 0;
    const uint64_t dictionary = flags & kDictionary ? kHistory : 0;
    const uint32_t block_check = flags & kBlockChecksum ? 4 : 0;
    uint64_t at = 4 + length + 1, total = 0;
    for (;;) {
        uint32_t field = 0;
        if (!source.Step() || !source.Le32(at, &field)) return false;
        at += 4;
        if (field == 0) break;  // the end mark
        const uint32_t size = field & ~kUncompressed;
        if (size > block_max || uint64_t{size} + block_check > source.size() - at) return false;
        uint64_t produced = size;
        if (!(field & kUncompressed)) {
            const uint64_t before = flags & kIndependent ? 0 : (total < kHistory ? total : kHistory);
            if (!SequencesHold(source, at, size, before + dictionary, block_max, &produced)) return false;
        }
        if (block_check) {
            uint32_t hash = 0, stored = 0;
            if (!Xxh32Of(source, at, size, &hash) || !source.Le32(at + size, &stored) || hash != stored) return false;
        }
        at += size + block_check;
        total += produced;
    }
    if (flags & kContentChecksum) at += 4;
    if (at > source.size() || ((flags & kContentSize) && total != content_size)) return false;
    *found = {at, "lz4", "LZ4 compressed data"};
    return true;
}

}  // namespace formathound
