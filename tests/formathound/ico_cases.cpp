// Windows icon and cursor rows: DIB and PNG images, images out of directory
// order, entries and images that do not agree, a file cut short.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

Bytes Entry(uint8_t side, uint32_t planes, uint32_t bits, size_t bytes, size_t offset) {
    return Cat({{side, side, 0, 0}, Le16(planes), Le16(bits), Le32(static_cast<uint32_t>(bytes)),
                Le32(static_cast<uint32_t>(offset))});
}

// A 32-bit DIB of side x side pixels: header, colour rows, mask rows.
Bytes Dib(uint32_t side, uint32_t height_field) {
    const uint32_t mask_row = (side + 31) / 32 * 4;
    return Cat({Le32(40), Le32(side), Le32(height_field), Le16(1), Le16(32), Bytes(24, 0),
                Bytes(side * side * 4, 0x40), Bytes(mask_row * side, 0)});
}

// A PNG of IHDR and IEND alone (CRCs are not checked).
Bytes Png(uint32_t side) {
    return Cat({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, Be32(13), Text("IHDR"), Be32(side), Be32(side),
                {8, 6, 0, 0, 0}, Be32(0), Be32(0), Text("IEND"), Be32(0xAE426082)});
}

Bytes Head(uint32_t type, uint32_t count) { return Cat({Le16(0), Le16(type), Le16(count)}); }

}  // namespace

std::vector<Case> IcoCases() {
    const Bytes dib = Dib(2, 4), png = Png(2), big = Dib(4, 8);
    const Bytes icon = Cat({Head(1, 1), Entry(2, 1, 32, dib.size(), 22), dib});
    const Bytes cursor = Cat({Head(2, 1), Entry(2, 1, 1, dib.size(), 22), dib});
    // The second entry's image comes first.
    const Bytes two = Cat({Head(1, 2), Entry(2, 1, 32, dib.size(), 38 + big.size()), Entry(4, 1, 32, big.size(), 38),
                           big, dib});
    const Bytes with_png = Cat({Head(1, 1), Entry(2, 1, 32, png.size(), 22), png});
    Bytes reserved = icon;
    reserved[9] = 1;
    return {
        {"ICO of one DIB", Cat({icon, Text("after")}), icon.size(), "ico"},
        {"CUR with its hot spot", Cat({cursor, Text("after")}), cursor.size(), "cur"},
        {"ICO images out of directory order", Cat({two, Text("after")}), two.size(), "ico"},
        {"ICO of a PNG", Cat({with_png, Text("after")}), with_png.size(), "ico"},
        {"ICO cut short", Bytes(icon.begin(), icon.end() - 1), 0, ""},
        {"ICO reserved byte set", reserved, 0, ""},
        {"ICO DIB of the entry's height, not twice it", Cat({Head(1, 1), Entry(2, 1, 32, 64, 22), Dib(2, 2)}), 0,
         ""},
        {"ICO image inside the directory", Cat({Head(1, 1), Entry(2, 1, 32, dib.size(), 6), dib, dib}), 0, ""},
        {"ICO PNG shorter than its entry", Cat({Head(1, 1), Entry(2, 1, 32, png.size() + 4, 22), png, Bytes(4, 0)}),
         0, ""},
        {"CUR hot spot outside", Cat({Head(2, 1), Entry(2, 2, 1, dib.size(), 22), dib}), 0, ""},
        {"ICO of no images", Cat({Head(1, 0), dib}), 0, ""},
    };
}

}  // namespace formathound_test
