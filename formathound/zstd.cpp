// Zstandard frames: magic, frame header (descriptor with its reserved and
// unused bits clear, window descriptor, dictionary ID, content size),
// blocks of 3-byte headers to the one flagged last, and the content
// checksum when flagged (not checked: it needs the content decoded).
// A block is raw, RLE or compressed (type 3 does not exist), no larger than
// the block maximum (the window, at most 128 KiB). A compressed block opens
// with its literals section header, whose sizes must fit the block, and a
// sequences section header; with no sequences the block ends there. The
// content size, when stated, must lie between what the blocks must and may
// produce.
//
// Frames and skippable frames that directly follow extend the item, as the
// tools read them as one (pzstd writes many, each behind a skippable frame
// that gives its size; a seek table is a skippable frame at the end). The
// item may start at such a skippable frame; it needs one Zstandard frame.
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kFrameMagic = 0xFD2FB528u, kSkippableMagic = 0x184D2A50u;
constexpr uint32_t kMaxBlock = 128 * 1024;
constexpr uint32_t kRaw = 0, kRle = 1, kReserved = 3;  // block types; 2 is compressed
constexpr uint32_t kMinMatch = 3;

// What a frame's blocks must and may produce.
struct Content {
    uint64_t least = 0, most = 0;
};

// The literals and sequences section headers of a compressed block of size
// bytes at offset at; adds what it must and may produce to content.
bool CompressedHolds(Source& source, uint64_t at, uint32_t size, uint32_t block_max, Content* content) {
    uint8_t p[8] = {};
    if (size < 2 || !source.Read(at, p, size < 8 ? size : 8)) return false;
    const uint32_t type = p[0] & 3, format = p[0] >> 2 & 3;
    uint32_t header = 0, regenerated = 0, stored = 0;
    if (type == 0 || type == 1) {  // raw or RLE literals
        if ((format & 1) == 0) {
            header = 1;
            regenerated = p[0] >> 3;
        } else {
            header = format == 1 ? 2 : 3;
            regenerated = p[0] >> 4 | uint32_t{p[1]} << 4 | (format == 3 ? uint32_t{p[2]} << 12 : 0);
        }
        stored = type == 0 ? regenerated : 1;
    } else {  // Huffman-coded literals, one stream or four behind a jump table
        header = format <= 1 ? 3 : format + 2;
        const uint64_t bits = Le32(p) | uint64_t{p[4]} << 32;
        const uint32_t width = format <= 1 ? 10 : format == 2 ? 14 : 18;
        regenerated = static_cast<uint32_t>(bits >> 4) & ((1u << width) - 1);
        stored = static_cast<uint32_t>(bits >> (4 + width)) & ((1u << width) - 1);
        if (stored == 0 || (format != 0 && stored <= 6)) return false;
    }
    if (regenerated > block_max || header > size || stored >= size - header) return false;
    // The sequences section: its count, then (with sequences) the
    // compression modes, whose low two bits are reserved, and more bytes.
    uint32_t at_seq = header + stored;
    uint8_t s[4] = {};
    if (!source.Read(at + at_seq, s, size - at_seq < 4 ? size - at_seq : 4)) return false;
    uint32_t count = s[0], count_bytes = 1;
    if (count >= 128) {
        count_bytes = count == 255 ? 3 : 2;
        count = count == 255 ? s[1] + (uint32_t{s[2]} << 8) + 0x7F00 : ((count - 128) << 8) + s[1];
    }
    if (count == 0) {
        if (at_seq + 1 != size) return false;
        content->least += regenerated;
        content->most += regenerated;
        return true;
    }
    if (at_seq + count_bytes + 1 >= size || (s[count_bytes] & 3) != 0) return false;
    content->least += regenerated + uint64_t{kMinMatch} * count;
    content->most += block_max;
    return content->least <= content->most;
}

// One Zstandard frame at offset at; sets end behind it.
bool FrameHolds(Source& source, uint64_t at, uint64_t* end) {
    uint8_t p[18] = {};
    const uint64_t left = source.size() - at;
    if (left < 6 || !source.Read(at, p, left < 18 ? left : 18) || Le32(p) != kFrameMagic) return false;
    const uint32_t descriptor = p[4];
    // The reserved bit, and the unused one, which no encoder sets.
    if (descriptor & 0x18) return false;
    const bool single = descriptor & 0x20, checksum = descriptor & 0x04;
    constexpr uint32_t kDictBytes[4] = {0, 1, 2, 4}, kSizeBytes[4] = {0, 2, 4, 8};
    const uint32_t size_flag = descriptor >> 6;
    const uint32_t size_bytes = size_flag == 0 && single ? 1 : kSizeBytes[size_flag];
    uint32_t k = 5;
    uint64_t window = 0;
    if (!single) {
        const uint32_t exponent = p[k] >> 3, mantissa = p[k] & 7;
        if (exponent > 21) return false;  // windows past 2 GiB exist nowhere
        window = uint64_t{1} << (10 + exponent);
        window += window / 8 * mantissa;
        ++k;
    }
    k += kDictBytes[descriptor & 3];
    uint64_t content_size = 0;
    for (uint32_t i = 0; i < size_bytes; ++i) content_size |= uint64_t{p[k + i]} << (8 * i);
    if (size_bytes == 2) content_size += 256;
    k += size_bytes;
    if (k > left) return false;
    if (single) window = content_size;
    const uint32_t block_max = window < kMaxBlock ? static_cast<uint32_t>(window) : kMaxBlock;
    // The blocks.
    Content content;
    uint64_t block = at + k;
    for (bool last = false; !last;) {
        uint8_t h[3];
        if (!source.Step() || source.size() - block < 3 || !source.Read(block, h, 3)) return false;
        const uint32_t header = h[0] | uint32_t{h[1]} << 8 | uint32_t{h[2]} << 16;
        const uint32_t type = header >> 1 & 3, size = header >> 3;
        last = header & 1;
        if (type == kReserved || size > block_max) return false;
        const uint32_t stored = type == kRle ? 1 : size;
        if (stored > source.size() - block - 3) return false;
        if (type == kRaw || type == kRle) {
            content.least += size;
            content.most += size;
        } else if (!CompressedHolds(source, block + 3, size, block_max, &content)) {
            return false;
        }
        block += 3 + stored;
    }
    if (checksum) block += 4;
    if (block > source.size()) return false;
    if (size_bytes > 0 && (content_size < content.least || content_size > content.most)) return false;
    *end = block;
    return true;
}

// A skippable frame at offset at: its magic (any of sixteen) and a size
// that fits; sets end behind it.
bool SkippableHolds(Source& source, uint64_t at, uint64_t* end) {
    uint8_t p[8];
    if (source.size() - at < 8 || !source.Read(at, p, 8) || (Le32(p) & ~0xFu) != kSkippableMagic) return false;
    if (Le32(p + 4) > source.size() - at - 8) return false;
    *end = at + 8 + Le32(p + 4);
    return true;
}

}  // namespace

bool WalkZstd(Source& source, Found* found) {
    uint64_t at = 0, end = 0, next = 0;
    bool frame = false;
    while (at < source.size() && source.Step()) {
        if (FrameHolds(source, at, &next)) {
            frame = true;
        } else if (!SkippableHolds(source, at, &next)) {
            break;
        }
        at = next;
        if (frame) end = at;
    }
    if (!frame) return false;
    *found = {end, "zst", "Zstandard compressed data"};
    return true;
}

}  // namespace formathound
