// Photoshop PSD and PSB rows: raw and RLE image data, the resources walked
// to their section's end, row counts and rows that do not hold, ZIP image
// data, a header byte flipped, a file cut short.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

Bytes Header(uint32_t version, uint32_t channels, uint32_t height, uint32_t width, uint32_t depth,
             uint32_t mode) {
    return Cat({Text("8BPS"), Be16(version), Bytes(6, 0), Be16(channels), Be32(height), Be32(width),
                Be16(depth), Be16(mode)});
}

// One resource (ID 1005, empty name) with five bytes of data and its pad.
Bytes Resources() {
    const Bytes resource = Cat({Text("8BIM"), Be16(1005), {0, 0}, Be32(5), Bytes(6, 7)});
    return Cat({Be32(static_cast<uint32_t>(resource.size())), resource});
}

// Two rows of four equal bytes and of four distinct ones, as PackBits.
const Bytes kRow1 = {0xFD, 9}, kRow2 = {3, 1, 2, 3, 4};

}  // namespace

std::vector<Case> PsdCases() {
    // 4x2 grayscale, 8 bits.
    const Bytes raw = Cat({Header(1, 1, 2, 4, 8, 1), Be32(0), Resources(), Be32(0), Be16(0), Bytes(8, 0x80)});
    const Bytes rle = Cat({Header(1, 1, 2, 4, 8, 1), Be32(0), Resources(), Be32(0), Be16(1), Be16(2), Be16(5),
                           kRow1, kRow2});
    const Bytes psb = Cat({Header(2, 1, 2, 4, 8, 1), Be32(0), Be32(0), Be32(0), Be32(0), Be16(1), Be32(2),
                           Be32(5), kRow1, kRow2});
    // 9x2 bitmap: rows of two bytes.
    const Bytes bitmap = Cat({Header(1, 1, 2, 9, 1, 0), Be32(0), Be32(0), Be32(0), Be16(0), Bytes(4, 0xFF)});
    Bytes flipped = raw;
    flipped[8] = 1;  // a reserved byte
    Bytes bad_resource = raw;
    bad_resource[37] = 'X';  // "8BIX"
    return {
        {"PSD raw", Cat({raw, Text("after")}), raw.size(), "psd"},
        {"PSD RLE", Cat({rle, Text("after")}), rle.size(), "psd"},
        {"PSB RLE", Cat({psb, Text("after")}), psb.size(), "psb"},
        {"PSD bitmap of 9 pixels a row", bitmap, bitmap.size(), "psd"},
        {"PSD cut short", Bytes(rle.begin(), rle.end() - 1), 0, ""},
        {"PSD reserved byte set", flipped, 0, ""},
        {"PSD resource of an unknown signature", bad_resource, 0, ""},
        {"PSD resource past its section",
         Cat({Header(1, 1, 2, 4, 8, 1), Be32(0), Be32(10), Text("8BIM"), Be16(1005), {0, 0}, Be32(5), Bytes(6, 7),
              Be32(0), Be16(0), Bytes(8, 0)}),
         0, ""},
        {"PSD row that decodes short",
         Cat({Header(1, 1, 2, 4, 8, 1), Be32(0), Be32(0), Be32(0), Be16(1), Be16(2), Be16(5), kRow1,
              Bytes{2, 1, 2, 3, 0x80}}),
         0, ""},
        {"PSD row count no row can take",
         Cat({Header(1, 1, 2, 4, 8, 1), Be32(0), Be32(0), Be32(0), Be16(1), Be16(2), Be16(9), kRow1, kRow2,
              Bytes(4, 0x80)}),
         0, ""},
        {"PSD ZIP image data", Cat({Header(1, 1, 2, 4, 8, 1), Be32(0), Be32(0), Be32(0), Be16(2), Bytes(16, 0x78)}),
         0, ""},
        {"PSD indexed without a palette", Cat({Header(1, 1, 2, 4, 8, 2), Be32(0), Be32(0), Be32(0), Be16(0),
                                               Bytes(8, 0)}),
         0, ""},
    };
}

}  // namespace formathound_test
