// GZIP member rows: every optional header field and the header CRC-16,
// stored, fixed and dynamic blocks encoded here, the code rules an inflater
// enforces (complete codes but a lone one-bit code, distances within the
// output), ISIZE, and members concatenated.
#include <map>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// Bits least significant first; Huffman codes go most significant bit first.
struct BitWriter {
    Bytes out;
    uint32_t used = 0;
    void Put(uint32_t value, uint32_t bits) {
        for (uint32_t i = 0; i < bits; ++i) {
            if (used % 8 == 0) out.push_back(0);
            out.back() |= static_cast<uint8_t>((value >> i & 1) << (used % 8));
            ++used;
        }
    }
    void PutCode(uint32_t code, uint32_t bits) {
        for (uint32_t i = bits; i-- > 0;) Put(code >> i & 1, 1);
    }
};

// Canonical codes of the lengths: symbol -> {code, length}.
using Lengths = std::map<uint32_t, uint32_t>;
std::map<uint32_t, std::pair<uint32_t, uint32_t>> Canonical(const Lengths& lengths) {
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> codes;
    uint32_t code = 0;
    for (uint32_t len = 1; len < 16; ++len, code <<= 1) {
        for (const auto& [symbol, l] : lengths) {
            if (l == len) codes[symbol] = {code++, len};
        }
    }
    return codes;
}

// A member around deflate data that decodes to size bytes; flags 0.
Bytes Member(const Bytes& deflate, uint32_t size) {
    return Cat({{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3}, deflate, Le32(0), Le32(size)});
}

// A final fixed block: literals and {length, distance} matches (lengths
// 3-10, distances 1-4), then end-of-block.
Bytes Fixed(const std::vector<std::pair<uint32_t, uint32_t>>& items) {
    BitWriter bits;
    bits.Put(1, 1);
    bits.Put(1, 2);
    for (const auto& [length, distance] : items) {
        if (distance == 0) {
            bits.PutCode(0x30 + length, 8);  // a literal below 144
        } else {
            bits.PutCode(length - 3 + 1, 7);  // symbols 257-264
            bits.PutCode(distance - 1, 5);
        }
    }
    bits.PutCode(0, 7);
    return bits.out;
}

// A final dynamic block with these literal/length and distance code
// lengths, each sent through a code-length code of 4 bits per length
// 0-15; then the symbols (matches of length 3, distance symbol 0).
Bytes Dynamic(const Lengths& literal, const Lengths& distance, const std::vector<uint32_t>& symbols) {
    BitWriter bits;
    bits.Put(1, 1);
    bits.Put(2, 2);
    bits.Put(1, 5);   // 258 literal/length codes
    bits.Put(0, 5);   // 1 distance code
    bits.Put(15, 4);  // 19 code-length codes: 16, 17, 18 unused
    for (int i = 0; i < 19; ++i) bits.Put(i < 3 ? 0 : 4, 3);
    for (uint32_t s = 0; s < 259; ++s) {
        const auto& lengths = s < 258 ? literal : distance;
        const auto it = lengths.find(s < 258 ? s : 0);
        bits.PutCode(it == lengths.end() ? 0 : it->second, 4);
    }
    const auto literal_codes = Canonical(literal), distance_codes = Canonical(distance);
    for (const uint32_t symbol : symbols) {
        const auto [code, len] = literal_codes.at(symbol);
        bits.PutCode(code, len);
        if (symbol == 257) bits.PutCode(distance_codes.at(0).first, distance_codes.at(0).second);
    }
    return bits.out;
}

}  // namespace

std::vector<Case> GzipCases() {
    const Bytes text = Text("stored bytes");
    const Bytes stored = Cat({{1}, Le16(12), Le16(0xFFFF ^ 12), text});
    // Every header field, and the low 16 bits of the header's CRC-32.
    Bytes head = Cat({{0x1F, 0x8B, 8, 0x1E, 1, 2, 3, 4, 2, 255}, Le16(6), Text("AB"), Le16(2), Text("xy"),
                      Text("name.txt"), {0}, Text("a comment"), {0}});
    const Bytes full = Cat({head, Le16(Crc32(head) & 0xFFFF), stored, Le32(Crc32(text)), Le32(12)});
    Bytes wrong_crc = full;
    wrong_crc[head.size()] ^= 1;
    const Bytes fixed = Member(Fixed({{'a', 0}, {3, 1}}), 4);
    // Literal 'a' and end-of-block with one bit each, matches with two.
    const Lengths complete = {{'a', 1}, {256, 2}, {257, 2}}, single = {{0, 1}};
    const Bytes dynamic = Member(Dynamic(complete, single, {'a', 257, 'a', 256}), 5);
    return {
        {"gzip with extra field, name, comment and header CRC", Cat({full, Text("after")}), full.size(), "gz"},
        {"gzip header CRC wrong", wrong_crc, 0, ""},
        {"gzip empty fixed block", Member({0x03, 0x00}, 0), 20, "gz"},
        {"gzip fixed block with a match", Cat({fixed, Text("after")}), fixed.size(), "gz"},
        {"gzip block type 3", Member({0x07, 0x00}, 0), 0, ""},
        {"gzip ISIZE wrong", Member(Fixed({{'a', 0}, {3, 1}}), 5), 0, ""},
        {"gzip distance before the start", Member(Fixed({{'a', 0}, {3, 2}}), 4), 0, ""},
        {"gzip stored length and complement disagree", Member(Cat({{1}, Le16(12), Le16(12), text}), 12), 0, ""},
        {"gzip dynamic block, one distance code", dynamic, dynamic.size(), "gz"},
        {"gzip literal code incomplete", Member(Dynamic({{'a', 1}, {256, 2}}, single, {'a', 256}), 1), 0, ""},
        {"gzip literal code over-subscribed",
         Member(Dynamic({{'a', 1}, {256, 1}, {257, 1}}, single, {'a', 256}), 1), 0, ""},
        {"gzip lone distance code of two bits", Member(Dynamic(complete, {{0, 2}}, {'a', 257, 256}), 4), 0, ""},
        {"gzip two members", Cat({fixed, dynamic, Text("after")}), fixed.size() + dynamic.size(), "gz"},
        {"gzip second member broken", Cat({fixed, Bytes(dynamic.begin(), dynamic.end() - 1)}), fixed.size(), "gz"},
        {"gzip cut in the deflate data", Bytes(dynamic.begin(), dynamic.end() - 10), 0, ""},
    };
}

}  // namespace formathound_test
