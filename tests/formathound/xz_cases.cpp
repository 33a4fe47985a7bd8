// XZ rows: streams of stored LZMA2 chunks, with and without sizes in the
// block header; sizes, index and footer that disagree; LZMA2 control and
// property bytes that do not exist; the empty stream; concatenated streams.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

Bytes WithCrc(const Bytes& bytes) { return Cat({bytes, Le32(Crc32(bytes))}); }

Bytes Padded(Bytes bytes) {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
    return bytes;
}

// A stored chunk of 5 bytes that resets the dictionary, and the end marker.
const Bytes kStoredChunk = {0x01, 0x00, 0x04, 'h', 'e', 'l', 'l', 'o', 0x00};

struct Stream {
    Bytes chunks = kStoredChunk;
    uint64_t uncompressed = 5;  // as the index lists it
    bool sizes = false;         // in the block header
    uint8_t footer_check = 1;
};

// Check type CRC-32; one block of the chunks unless they are empty.
Bytes Xz(const Stream& s) {
    const Bytes header = WithCrc({0x00, 0x01});
    Bytes block, index = {0x00, 0x00};
    if (!s.chunks.empty()) {
        Bytes head = {0x00, static_cast<uint8_t>(s.sizes ? 0xC0 : 0x00)};
        if (s.sizes) head.insert(head.end(), {static_cast<uint8_t>(s.chunks.size()), 0x05});
        head.insert(head.end(), {0x21, 0x01, 0x16});  // LZMA2, 8 MiB dictionary
        while ((head.size() + 4) % 4 != 0) head.push_back(0);
        head[0] = static_cast<uint8_t>((head.size() + 4) / 4 - 1);
        block = Cat({WithCrc(head), Padded(s.chunks), Le32(Crc32(Text("hello")))});
        index = {0x00, 0x01, static_cast<uint8_t>(head.size() + 4 + s.chunks.size() + 4),
                 static_cast<uint8_t>(s.uncompressed)};
    }
    index = WithCrc(Padded(index));
    const Bytes stored = Cat({Le32(static_cast<uint32_t>(index.size() / 4 - 1)), {0x00, s.footer_check}});
    return Cat({{0xFD, '7', 'z', 'X', 'Z', 0x00}, header, block, index, Le32(Crc32(stored)), stored, Text("YZ")});
}

}  // namespace

std::vector<Case> XzCases() {
    const Bytes plain = Xz({});
    Stream sized;
    sized.sizes = true;
    Stream wrong_index, wrong_footer, no_reset, bad_control, bad_properties, empty;
    wrong_index.uncompressed = 6;
    wrong_footer.footer_check = 4;
    no_reset.chunks[0] = 0x02;
    bad_control.chunks[0] = 0x03;
    // An LZMA chunk (dictionary reset, new properties lc 4 lp 1) of 2 bytes.
    bad_properties.chunks = {0xE0, 0x00, 0x04, 0x00, 0x01, 103, 0x00, 0x00, 0x00};
    empty.chunks = {};
    const Bytes second = Xz(sized);
    return {
        {"XZ block without sizes", Cat({plain, Text("after")}), plain.size(), "xz"},
        {"XZ block with sizes", second, second.size(), "xz"},
        {"XZ two streams", Cat({plain, second}), plain.size() + second.size(), "xz"},
        {"XZ stream padding ends the item", Cat({plain, Bytes(4, 0), second}), plain.size(), "xz"},
        {"XZ empty stream", Xz(empty), 32, "xz"},
        {"XZ index lists another size", Xz(wrong_index), 0, ""},
        {"XZ footer flags differ", Xz(wrong_footer), 0, ""},
        {"XZ first chunk keeps the dictionary", Xz(no_reset), 0, ""},
        {"XZ LZMA2 control 0x03", Xz(bad_control), 0, ""},
        {"XZ LZMA2 properties lc + lp over 4", Xz(bad_properties), 0, ""},
        {"XZ cut short", Bytes(plain.begin(), plain.end() - 1), 0, ""},
    };
}

}  // namespace formathound_test
