// Zstandard rows: raw, RLE and compressed blocks, content sizes that the
// blocks cannot produce, reserved bits and block types, blocks over the
// window, and frames and skippable frames in a row.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

enum BlockType : uint32_t { kRaw, kRle, kCompressed, kReserved };

Bytes Block(BlockType type, uint32_t size, const Bytes& body, bool last = true) {
    const uint32_t h = size << 3 | type << 1 | (last ? 1 : 0);
    return Cat({{static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h >> 16)}, body});
}

// A frame of one segment whose content size takes one byte.
Bytes Single(uint8_t content_size, const Bytes& blocks, uint8_t descriptor = 0x20) {
    return Cat({{0x28, 0xB5, 0x2F, 0xFD, descriptor, content_size}, blocks});
}

// A frame of a 1 KiB window and no content size.
Bytes Windowed(const Bytes& blocks) { return Cat({{0x28, 0xB5, 0x2F, 0xFD, 0x00, 0x00}, blocks}); }

Bytes Skippable(const Bytes& data) {
    return Cat({{0x50, 0x2A, 0x4D, 0x18}, Le32(static_cast<uint32_t>(data.size())), data});
}

}  // namespace

std::vector<Case> ZstdCases() {
    const Bytes raw = Single(5, Block(kRaw, 5, Text("hello")));
    const Bytes rle = Single(100, Cat({Block(kRle, 100, {'a'}), Le32(0x12345678)}), 0x24);
    // Raw literals "hello" and no sequences; then one sequence, its modes
    // byte and two bytes of bit stream.
    const Bytes literals = Windowed(Block(kCompressed, 7, Cat({{5 << 3}, Text("hello"), {0x00}})));
    const Bytes sequence = Windowed(Block(kCompressed, 6, {1 << 3, 'a', 0x01, 0x00, 0x12, 0x34}));
    // The same sequence in a frame that states a 4-byte content size.
    const auto sized = [](uint32_t content_size) {
        return Cat({{0x28, 0xB5, 0x2F, 0xFD, 0x80, 0x00}, Le32(content_size),
                    Block(kCompressed, 6, {1 << 3, 'a', 0x01, 0x00, 0x12, 0x34})});
    };
    const Bytes two = Cat({Skippable(Le32(0x20)), raw, Skippable(Text("seek")), literals});
    return {
        {"Zstandard raw block", Cat({raw, Text("after")}), raw.size(), "zst"},
        {"Zstandard RLE block and checksum", rle, rle.size(), "zst"},
        {"Zstandard literals alone", literals, literals.size(), "zst"},
        {"Zstandard one sequence", sequence, sequence.size(), "zst"},
        {"Zstandard frames and skippable frames", Cat({two, Text("after")}), two.size(), "zst"},
        {"Zstandard skippable frame alone", Cat({Skippable(Le32(1)), Text("after")}), 0, ""},
        {"Zstandard content size too large", Single(6, Block(kRaw, 5, Text("hello"))), 0, ""},
        {"Zstandard content size the least a sequence gives", Cat({sized(4), Text("after")}), sized(4).size(), "zst"},
        {"Zstandard content size below what a sequence gives", sized(3), 0, ""},
        {"Zstandard bytes behind no sequences", Windowed(Block(kCompressed, 8, Cat({{5 << 3}, Text("hello"),
                                                                                    {0x00, 0x00}}))), 0, ""},
        {"Zstandard modes reserved bits", Windowed(Block(kCompressed, 6, {1 << 3, 'a', 0x01, 0x01, 0x12, 0x34})),
         0, ""},
        {"Zstandard reserved block type", Single(5, Block(kReserved, 5, Text("hello"))), 0, ""},
        {"Zstandard reserved descriptor bit", Single(5, Block(kRaw, 5, Text("hello")), 0x28), 0, ""},
        {"Zstandard block over the window", Windowed(Block(kRaw, 1025, Bytes(1025, 1))), 0, ""},
        {"Zstandard last block missing", Single(5, Block(kRaw, 5, Text("hello"), false)), 0, ""},
        {"Zstandard cut short", Bytes(raw.begin(), raw.end() - 1), 0, ""},
    };
}

}  // namespace formathound_test
