// GIMP XCF rows: one 2x2 layer of one tile, RLE or raw, with 4- and 8-byte
// pointers; zlib tiles, RLE runs past the tile, tile tables and properties
// that do not hold, a file cut short.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

struct Options {
    bool large = false;         // version 11: 8-byte pointers, precision
    uint8_t compression = 1;    // 0 raw, 1 RLE, 2 zlib
    Bytes tile;                 // none: three RLE planes of four pixels
    uint32_t tiles = 1;         // pointers in the level's table
    uint32_t property_length = 0;  // of the layer's PROP_END
};

Bytes Pointer(const Options& options, size_t value) {
    return options.large ? Cat({Be32(0), Be32(static_cast<uint32_t>(value))}) : Be32(static_cast<uint32_t>(value));
}

// Header, image properties, layer and channel tables, the layer, its
// hierarchy, its level and its tile, in that order.
Bytes Image(const Options& options) {
    const size_t p = options.large ? 8 : 4;
    const Bytes head = Cat({Text(options.large ? "gimp xcf v011" : "gimp xcf v001"), {0}, Be32(2), Be32(2),
                            Be32(0), options.large ? Be32(150) : Bytes{},
                            Be32(17), Be32(1), {options.compression}, Be32(0), Be32(0)});
    const size_t layer = head.size() + 3 * p;
    const size_t hierarchy = layer + 12 + 6 + 8 + options.property_length + 2 * p;
    const size_t level = hierarchy + 12 + 2 * p;
    const size_t tile = level + 8 + (options.tiles + 1) * p;
    Bytes tile_table;
    for (uint32_t i = 0; i < options.tiles; ++i) tile_table = Cat({tile_table, Pointer(options, tile)});
    return Cat({head, Pointer(options, layer), Pointer(options, 0), Pointer(options, 0),
                Be32(2), Be32(2), Be32(0), Be32(2), Text("a"), {0}, Be32(0), Be32(options.property_length),
                Bytes(options.property_length, 0), Pointer(options, hierarchy), Pointer(options, 0),
                Be32(2), Be32(2), Be32(3), Pointer(options, level), Pointer(options, 0),
                Be32(2), Be32(2), tile_table, Pointer(options, 0),
                options.tile.empty() ? Bytes{3, 10, 3, 20, 3, 30} : options.tile});
}

}  // namespace

std::vector<Case> XcfCases() {
    const Bytes rle = Image({});
    Options large;
    large.large = true;
    const Bytes wide = Image(large);
    Options raw;
    raw.compression = 0;
    raw.tile = Bytes(12, 0x55);
    const Bytes plain = Image(raw);
    Options zlib;
    zlib.compression = 2;
    zlib.tile = {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    Options overrun;
    overrun.tile = {3, 10, 3, 20, 4, 30};
    Options two_tiles;
    two_tiles.tiles = 2;
    Options end_with_length;
    end_with_length.property_length = 4;
    return {
        {"XCF v001 RLE", Cat({rle, Text("after")}), rle.size(), "xcf"},
        {"XCF v011 8-byte pointers", Cat({wide, Text("after")}), wide.size(), "xcf"},
        {"XCF raw tile", Cat({plain, Text("after")}), plain.size(), "xcf"},
        {"XCF cut short", Bytes(rle.begin(), rle.end() - 1), 0, ""},
        {"XCF zlib tiles", Image(zlib), 0, ""},
        {"XCF RLE run past the tile", Cat({Image(overrun), Bytes(8, 0)}), 0, ""},
        {"XCF more tiles than the level has", Image(two_tiles), 0, ""},
        {"XCF PROP_END with a length", Image(end_with_length), 0, ""},
    };
}

}  // namespace formathound_test
