// Byte-level builders for JPEG streams in the tests of both JPEG plug-ins:
// markers, segments, headers.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes Marker(uint8_t code) { return {0xFF, code}; }
inline Bytes Word(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}
inline Bytes Soi() { return Marker(0xD8); }
inline Bytes Eoi() { return Marker(0xD9); }

// A marker with the length field that counts itself and body.
inline Bytes Segment(uint8_t code, const Bytes& body) {
    return Cat({Marker(code), Word(static_cast<uint16_t>(body.size() + 2)), body});
}

// A marker followed by an arbitrary length field and body.
inline Bytes SegmentWithLength(uint8_t code, uint16_t length, const Bytes& body) {
    return Cat({Marker(code), Word(length), body});
}

// Frame header with the given fields; Nf component specifications follow.
inline Bytes FrameHeader(uint8_t code, uint16_t lf, uint8_t p, uint16_t y, uint16_t x,
                         uint8_t nf) {
    Bytes bytes = Cat({Marker(code), Word(lf), {p}, Word(y), Word(x), {nf}});
    for (uint8_t i = 0; i < nf; ++i) bytes.insert(bytes.end(), {uint8_t(i + 1), 0x11, 0x00});
    return bytes;
}
inline Bytes Sof0(uint8_t nf = 1) {
    return FrameHeader(0xC0, static_cast<uint16_t>(3 * nf + 8), 8, 16, 16, nf);
}

// Scan header with the given Ls and Ns; Ns selector pairs, then Ss, Se, Ah/Al.
inline Bytes ScanHeader(uint16_t ls, uint8_t ns) {
    Bytes bytes = Cat({Marker(0xDA), Word(ls), {ns}});
    for (uint8_t i = 0; i < ns; ++i) bytes.insert(bytes.end(), {uint8_t(i + 1), 0x00});
    bytes.insert(bytes.end(), {0x00, 0x3F, 0x00});
    return bytes;
}
inline Bytes Sos(uint8_t ns = 1) { return ScanHeader(static_cast<uint16_t>(2 * ns + 6), ns); }

// One Huffman table: Tc/Th byte, 16 code counts, then their sum in symbols.
// The table is sized once and filled in place: growing a one-byte vector by
// a range insert trips GCC 12's -Warray-bounds at -O3.
inline Bytes HuffmanTable(uint8_t tc_th, const Bytes& counts) {
    size_t sum = 0;
    for (uint8_t count : counts) sum += count;
    Bytes table(1 + counts.size() + sum);
    table[0] = tc_th;
    std::copy(counts.begin(), counts.end(), table.begin() + 1);
    for (size_t i = 0; i < sum; ++i) table[1 + counts.size() + i] = static_cast<uint8_t>(i & 0x7F);
    return table;
}
// 16 code counts that add up to sum (sum <= 16 * 255).
inline Bytes CodeCounts(int sum) {
    Bytes counts(16, 0);
    for (int i = 15; i >= 0 && sum > 0; --i) {
        counts[i] = static_cast<uint8_t>(sum > 255 ? 255 : sum);
        sum -= counts[i];
    }
    return counts;
}

// Entropy-coded data with stuffed zeros, no marker.
inline Bytes EntropyData() { return {0x12, 0xFF, 0x00, 0x34, 0x56, 0xFF, 0x00, 0xFF, 0x00, 0x78}; }

// SOI, APP0, DQT, SOF0, DHT, SOS, entropy-coded data, EOI.
inline Bytes BaselineImage() {
    Bytes quant(65, 0x10);
    quant[0] = 0x00;
    return Cat({Soi(), Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}),
                Segment(0xDB, quant), Sof0(), Segment(0xC4, HuffmanTable(0x00, CodeCounts(12))),
                Sos(), EntropyData(), Eoi()});
}

// The smallest accepted image: SOI, SOF0 with one component, EOI.
inline Bytes TinyImage() {
    return {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01,
            0x00, 0x01, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};
}

// The least jpeghound accepts: SOI, DQT, SOF0, a DC and an AC table of two
// codes each, SOS, entropy-coded data, EOI.
inline Bytes StrictImage() {
    Bytes quant(65, 0x01);
    quant[0] = 0x00;
    Bytes counts(16, 0);
    counts[1] = 2;
    return Cat({Soi(), Segment(0xDB, quant), Sof0(), Segment(0xC4, HuffmanTable(0x00, counts)),
                Segment(0xC4, HuffmanTable(0x10, counts)), Sos(), EntropyData(), Eoi()});
}
