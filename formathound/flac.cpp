// FLAC streams: "fLaC", metadata blocks (STREAMINFO first), then frames.
// A frame header (sync 0xFFF8/0xFFF9, block size, sample rate, channels,
// sample size, the UTF-8 coded frame or sample number, CRC-8) tells no
// frame length: a frame runs to the next header that holds and numbers the
// next frame, where the CRC-16 of the frame, kept while scanning, holds.
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
    *header = {n + 1, block, variable};
    return true;
}

// The most bytes a frame of this header can take: every subframe verbatim,
// one bit more for a side channel, with subframe headers and padding.
uint64_t MaxFrame(const StreamInfo& info, const Header& header) {
    return header.length + 2 + (uint64_t{header.block} * (info.bits + 1) + 64) * info.channels / 8 + 8;
}

}  // namespace

bool WalkFlac(Source& source, Found* found) {
    const uint8_t* head = source.Peek(0, 4 + 4 + 34);
    if (head == nullptr || std::memcmp(head, "fLaC", 4) != 0 || (head[4] & 0x7F) != 0 || Be32(head + 4) << 8 >> 8 != 34)
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
        const uint64_t limit = at + (info.max_frame ? info.max_frame : MaxFrame(info, header));
        uint64_t next = 0, first_end = 0;
        uint32_t crc = 0;
        const uint8_t* chunk = nullptr;
        uint64_t chunk_at = 0, chunk_end = 0;
        for (uint64_t q = at; q <= limit && q <= source.size(); ++q) {
            if (q >= at + header.length + 3 && crc == 0) {
                if (first_end == 0) first_end = q;
                if (last) break;
                if (q + 1 < source.size()) {
                    if (chunk == nullptr || q + 2 > chunk_end) chunk = nullptr;
                    const uint8_t* sync = chunk != nullptr ? chunk + (q - chunk_at) : source.Peek(q, 2);
                    Header following;
                    if (sync != nullptr && sync[0] == 0xFF && (sync[1] & 0xFE) == (variable ? 0xF9 : 0xF8) &&
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
        // No next frame: the stream ends here, complete only when its total
        // is unknown or reached.
        if (first_end != 0 && (last || info.total == 0)) end = first_end;
        else if (info.total != 0 || end == 0) return false;
        break;
    }
    *found = {end, "flac", "FLAC audio"};
    return true;
}

}  // namespace formathound
