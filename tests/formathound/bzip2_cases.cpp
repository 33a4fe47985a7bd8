// BZIP2 stream rows, blocks encoded here: the stream CRC over the block
// CRCs, the origin pointer, runs against the level's block size, selectors
// that run out, incomplete codes, padding, and streams concatenated.
#include <utility>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

constexpr uint32_t kRunA = 0, kRunB = 1;

// Bits most significant first.
struct BitWriter {
    Bytes out;
    uint32_t used = 0;
    void Put(uint32_t value, uint32_t bits) {
        for (uint32_t i = bits; i-- > 0; ++used) {
            if (used % 8 == 0) out.push_back(0);
            out.back() |= static_cast<uint8_t>((value >> i & 1) << (7 - used % 8));
        }
    }
};

struct Block {
    uint32_t crc;
    Bytes used;                     // the bytes in use
    std::vector<uint32_t> lengths;  // of both tables, for RUNA, RUNB, ..., end of block
    std::vector<uint32_t> symbols;  // with the end of block
    uint32_t origin = 0;
    uint32_t selectors = 0;         // 0: one per 50 symbols
    std::vector<uint32_t> coded;    // lengths the symbols are coded with, when not lengths
};

Block Make(uint32_t crc, const char* used, std::vector<uint32_t> lengths, std::vector<uint32_t> symbols) {
    Block block;
    block.crc = crc;
    block.used = Text(used);
    block.lengths = std::move(lengths);
    block.symbols = std::move(symbols);
    return block;
}

void PutBlock(BitWriter& bits, const Block& block) {
    bits.Put(0x314159, 24);
    bits.Put(0x265359, 24);
    bits.Put(block.crc, 32);
    bits.Put(0, 1);
    bits.Put(block.origin, 24);
    uint32_t ranges = 0, map[16] = {};
    for (const uint8_t byte : block.used) {
        ranges |= 0x8000u >> (byte / 16);
        map[byte / 16] |= 0x8000u >> (byte % 16);
    }
    bits.Put(ranges, 16);
    for (uint32_t r = 0; r < 16; ++r) {
        if (ranges & (0x8000u >> r)) bits.Put(map[r], 16);
    }
    const uint32_t selectors =
        block.selectors ? block.selectors : static_cast<uint32_t>(block.symbols.size() + 49) / 50;
    bits.Put(2, 3);
    bits.Put(selectors, 15);
    for (uint32_t i = 0; i < selectors; ++i) bits.Put(0, 1);  // table 0 each time
    for (int table = 0; table < 2; ++table) {
        uint32_t length = block.lengths[0];
        bits.Put(length, 5);
        for (const uint32_t target : block.lengths) {
            for (; length < target; ++length) bits.Put(2, 2);
            for (; length > target; --length) bits.Put(3, 2);
            bits.Put(0, 1);
        }
    }
    // Canonical codes: by length, then by symbol.
    const std::vector<uint32_t>& lengths = block.coded.empty() ? block.lengths : block.coded;
    std::vector<uint32_t> code(lengths.size());
    for (uint32_t len = 1, next = 0; len <= 20; ++len, next <<= 1) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == len) code[s] = next++;
        }
    }
    for (const uint32_t s : block.symbols) bits.Put(code[s], lengths[s]);
}

// A stream of these blocks, its CRC combined from the CRCs of crc_blocks
// (by default the blocks).
Bytes Stream(char level, const std::vector<Block>& blocks, const std::vector<Block>& crc_blocks = {}) {
    BitWriter bits;
    bits.out = Text(std::string("BZh") + level);
    bits.used = 32;
    for (const Block& block : blocks) PutBlock(bits, block);
    uint32_t combined = 0;
    for (const Block& block : crc_blocks.empty() ? blocks : crc_blocks) {
        combined = (combined << 1 | combined >> 31) ^ block.crc;
    }
    bits.Put(0x177245, 24);
    bits.Put(0x385090, 24);
    bits.Put(combined, 32);
    return bits.out;
}

// RUNA and RUNB for a run of n: its digits 1 and 2 in base 2, lowest first.
std::vector<uint32_t> Run(uint32_t n) {
    std::vector<uint32_t> symbols;
    for (; n > 0; n = (n - 1) / 2) symbols.push_back(n % 2 ? kRunA : kRunB);
    return symbols;
}

std::vector<uint32_t> With(std::vector<uint32_t> symbols, uint32_t last) {
    symbols.push_back(last);
    return symbols;
}

}  // namespace

std::vector<Case> Bzip2Cases() {
    // One byte 'a' or 'b': a run of one, then the end of block (symbol 2).
    const Block a = Make(0x1A2B3C4D, "a", {1, 2, 2}, {kRunA, 2});
    const Block b = Make(0x5E6F7081, "b", {1, 2, 2}, {kRunA, 2});
    Block c = a;
    c.crc = 0x1A2B3C4C;
    const Bytes one = Stream('9', {a}), two = Stream('9', {a, b});
    Block origin = a;
    origin.origin = 1;
    // Level 1 allows 100000 bytes to a block.
    const Block full = Make(1, "z", {2, 2, 2}, With(Run(100000), 2));
    const Block over = Make(1, "z", {2, 2, 2}, With(Run(100001), 2));
    // 60 move-to-front symbols and the end of block need two selectors.
    const Block many = Make(2, "ab", {2, 2, 2, 2}, With(std::vector<uint32_t>(60, 2), 3));
    Block few = many;
    few.selectors = 1;
    // Three codes of two bits: incomplete, and code 11 stands for nothing.
    const Block incomplete = Make(3, "a", {2, 2, 2}, {kRunA, 2});
    Block unassigned = incomplete;
    unassigned.coded = {2, 2, 2, 2};
    unassigned.symbols = {kRunA, 3, 2};
    // The stream of 'a' ends 3 bits into its last byte.
    Bytes padded = one, magic = one;
    padded.back() |= 1;
    magic[6] ^= 0x10;
    const Bytes empty = Stream('9', {});
    return {
        {"bzip2 one block", Cat({one, Text("after")}), one.size(), "bz2"},
        {"bzip2 two blocks", two, two.size(), "bz2"},
        {"bzip2 block magic damaged", magic, 0, ""},
        {"bzip2 stream CRC wrong", Stream('9', {a}, {c}), 0, ""},
        {"bzip2 block missing", Stream('9', {a}, {a, b}), 0, ""},
        {"bzip2 blocks swapped", Stream('9', {b, a}, {a, b}), 0, ""},
        {"bzip2 origin pointer past the block", Stream('9', {origin}), 0, ""},
        {"bzip2 run filling level 1", Stream('1', {full}), Stream('1', {full}).size(), "bz2"},
        {"bzip2 run past level 1", Stream('1', {over}), 0, ""},
        {"bzip2 run past level 1 fits level 2", Stream('2', {over}), Stream('2', {over}).size(), "bz2"},
        {"bzip2 selectors for 61 symbols", Stream('9', {many}), Stream('9', {many}).size(), "bz2"},
        {"bzip2 selectors run out", Stream('9', {few}), 0, ""},
        {"bzip2 incomplete code", Stream('9', {incomplete}), Stream('9', {incomplete}).size(), "bz2"},
        {"bzip2 code that stands for nothing", Stream('9', {unassigned}), 0, ""},
        {"bzip2 padding not zero", padded, 0, ""},
        {"bzip2 empty stream", Cat({empty, Text("after")}), 14, "bz2"},
        {"bzip2 two streams", Cat({one, empty, two}), one.size() + 14 + two.size(), "bz2"},
        {"bzip2 second stream cut", Cat({one, Bytes(two.begin(), two.end() - 1)}), one.size(), "bz2"},
        {"bzip2 cut short", Bytes(two.begin(), two.end() - 1), 0, ""},
    };
}

}  // namespace formathound_test
