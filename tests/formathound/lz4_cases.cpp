// LZ4 rows: stored and compressed blocks, content sizes, block and content
// checksums, a descriptor check byte or version that is wrong, offsets that
// reach before the data, blocks that end on a match or exceed their maximum.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

uint32_t Rotate(uint32_t v, int bits) { return v << bits | v >> (32 - bits); }

// xxHash32 with seed 0 of fewer than 16 bytes.
uint32_t ShortXxh32(const Bytes& bytes) {
    const uint32_t p1 = 2654435761u, p2 = 2246822519u, p3 = 3266489917u, p4 = 668265263u, p5 = 374761393u;
    uint32_t h = p5 + static_cast<uint32_t>(bytes.size());
    size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) {
        const uint32_t lane = bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | uint32_t{bytes[i + 3]} << 24;
        h = Rotate(h + lane * p3, 17) * p4;
    }
    for (; i < bytes.size(); ++i) h = Rotate(h + bytes[i] * p5, 11) * p1;
    h = (h ^ h >> 15) * p2;
    h = (h ^ h >> 13) * p3;
    return h ^ h >> 16;
}

// Magic, descriptor (block maximum 64 KiB) with its check byte, blocks, end
// mark and what follows it.
Bytes Frame(uint8_t flags, const Bytes& content_size, const Bytes& blocks, const Bytes& tail = {}) {
    const Bytes descriptor = Cat({{flags, 0x40}, content_size});
    const uint8_t check = static_cast<uint8_t>(ShortXxh32(descriptor) >> 8);
    return Cat({{0x04, 0x22, 0x4D, 0x18}, descriptor, {check}, blocks, Le32(0), tail});
}

Bytes Block(const Bytes& data, bool stored = false) {
    return Cat({Le32(static_cast<uint32_t>(data.size()) | (stored ? 0x80000000u : 0)), data});
}

}  // namespace

std::vector<Case> Lz4Cases() {
    const uint8_t independent = 0x60, block_checksum = 0x10, content_size = 0x08, content_checksum = 0x04;
    const Bytes stored = Frame(independent, {}, Block(Text("hello"), true));
    // One literal, a match of 8 at offset 1, then a literal: 10 bytes.
    const Bytes matched = {0x14, 'a', 0x01, 0x00, 0x10, 'b'};
    const Bytes sized = Frame(independent | content_size, Le64(10), Block(matched));
    const Bytes checked = Frame(independent | block_checksum, {}, Cat({Block(Text("hello"), true), Le32(0)}));
    Bytes bad_header = stored;
    bad_header[6] ^= 1;
    const Bytes hashed = Frame(independent | block_checksum, {},
                               Cat({Block(Text("hello"), true), Le32(ShortXxh32(Text("hello")))}));
    const Bytes with_checksum = Frame(independent | content_checksum, {}, Block({0x50, 'h', 'e', 'l', 'l', 'o'}),
                                      Le32(0x12345678));
    return {
        {"LZ4 stored block", Cat({stored, Text("after")}), stored.size(), "lz4"},
        {"LZ4 content size and a match", sized, sized.size(), "lz4"},
        {"LZ4 block checksum", hashed, hashed.size(), "lz4"},
        {"LZ4 content checksum", with_checksum, with_checksum.size(), "lz4"},
        {"LZ4 content size wrong", Frame(independent | content_size, Le64(11), Block(matched)), 0, ""},
        {"LZ4 block checksum wrong", checked, 0, ""},
        {"LZ4 descriptor check wrong", bad_header, 0, ""},
        {"LZ4 version 0", Frame(0x20, {}, Block(Text("hello"), true)), 0, ""},
        {"LZ4 offset before the data", Frame(independent, {}, Block({0x14, 'a', 0x02, 0x00, 0x10, 'b'})), 0, ""},
        {"LZ4 block ends on a match", Frame(independent, {}, Block({0x14, 'a', 0x01, 0x00})), 0, ""},
        {"LZ4 block over its maximum", Frame(independent, {}, Block(Bytes(65537, 1), true)), 0, ""},
        {"LZ4 end mark missing", Bytes(stored.begin(), stored.end() - 1), 0, ""},
    };
}

}  // namespace formathound_test
