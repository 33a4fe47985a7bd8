// Truevision TGA rows: raw, RLE and colour-mapped images; TGA 2.0 footers
// behind the data, an extension area or a developer area; headers that do
// not hold; tiny images; RLE packets past the pixel count; files cut short.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A header without ID: image type, colour map (first index, length, entry
// bits), side x side pixels of that depth, descriptor.
Bytes Header(uint8_t type, uint32_t map_length, uint8_t map_bits, uint8_t depth, uint8_t descriptor,
             uint32_t x = 0, uint32_t side = 8) {
    return Cat({{0, static_cast<uint8_t>(map_length ? 1 : 0), type}, Le16(0), Le16(map_length), {map_bits},
                Le16(x), Le16(0), Le16(side), Le16(side), {depth, descriptor}});
}

Bytes Footer(uint32_t extension, uint32_t developer) {
    return Cat({Le32(extension), Le32(developer), Text("TRUEVISION-XFILE."), {0}});
}

}  // namespace

std::vector<Case> TgaCases() {
    const Bytes raw = Cat({Header(2, 0, 0, 24, 0), Bytes(192, 0x33)});
    const Bytes footed = Cat({raw, Footer(0, 0)});
    const Bytes extension = Cat({Le16(495), Bytes(493, 0)});
    const Bytes extended = Cat({raw, extension, Footer(210, 0)});
    const Bytes developed = Cat({raw, Text("developer data"), Footer(0, 210)});
    const Bytes tiny = Cat({Header(2, 0, 0, 24, 0, 0, 2), Bytes(12, 0x33)});
    const Bytes tiny_footed = Cat({tiny, Footer(0, 0)});
    // One run packet of all 64 pixels.
    const Bytes rle = Cat({Header(10, 0, 0, 24, 0), {0xBF, 1, 2, 3}});
    const Bytes mapped = Cat({Header(1, 2, 24, 8, 0), Bytes(6, 0x44), Bytes(64, 1)});
    return {
        {"TGA raw without footer", Cat({raw, Text("after")}), raw.size(), "tga"},
        {"TGA raw with footer", Cat({footed, Text("after")}), footed.size(), "tga"},
        {"TGA extension area and footer", Cat({extended, Text("after")}), extended.size(), "tga"},
        {"TGA developer area and footer", Cat({developed, Text("after")}), developed.size(), "tga"},
        {"TGA footer pointing before the data", Cat({raw, Footer(5, 0)}), raw.size(), "tga"},
        {"TGA RLE", Cat({rle, Text("after")}), rle.size(), "tga"},
        {"TGA colour-mapped", Cat({mapped, Text("after")}), mapped.size(), "tga"},
        {"TGA RLE packet past the pixels", Cat({Header(10, 0, 0, 24, 0), {0xC0, 1, 2, 3}, Bytes(8, 0)}), 0, ""},
        {"TGA of 4 pixels without footer", tiny, 0, ""},
        {"TGA of 4 pixels with footer", tiny_footed, tiny_footed.size(), "tga"},
        {"TGA pixels right to left", Cat({Header(2, 0, 0, 24, 0x10), Bytes(192, 0)}), 0, ""},
        {"TGA RLE cut short", Cat({Header(10, 0, 0, 24, 0), {0x01, 1, 2, 3, 4, 5}}), 0, ""},
        {"TGA raw cut short", Bytes(raw.begin(), raw.end() - 1), 0, ""},
        {"TGA colour map fields without a map", Cat({Header(2, 0, 24, 24, 0), Bytes(192, 0)}), 0, ""},
        {"TGA alpha bits not matching the depth", Cat({Header(2, 0, 0, 32, 4), Bytes(256, 0)}), 0, ""},
        {"TGA x origin set", Cat({Header(2, 0, 0, 24, 0, 7), Bytes(192, 0)}), 0, ""},
    };
}

}  // namespace formathound_test
