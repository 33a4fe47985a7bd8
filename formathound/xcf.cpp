// GIMP XCF images: "gimp xcf " and a version ("file" or "v001" on), the
// canvas (width, height, base type, and the precision from version 4), the
// image properties up to PROP_END, then the pointers of the layers and of
// the channels, each list ending with 0 (pointers of 8 bytes from version
// 11). Each layer (size, type, name, properties, hierarchy, layer mask)
// and channel (size, name, properties, hierarchy) is followed: a hierarchy
// gives the bytes per pixel and its levels, a level its tiles of 64x64
// pixels. Raw tiles have a size; RLE tiles are decoded plane by plane to
// their pixel count. The item ends behind the highest byte any of it takes.
//
// zlib tiles carry no length and the last one of a level is not followed by
// anything that says where it ends, so zlib-compressed files (GIMP's
// "better but slower compression") are rejected, as are fractal tiles.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kTile = 64;
constexpr uint32_t kMaxSide = 524288;
constexpr uint32_t kMaxProperty = 64;  // property types GIMP has are below
constexpr uint32_t kMaxName = 65536;
constexpr uint32_t kPropEnd = 0, kPropCompression = 17;
constexpr uint32_t kChunk = 4096;
// Tile pointers read at once, so that tile reads do not move the window
// back to the table for each tile.
constexpr uint32_t kPointerBatch = 64;

struct Xcf {
    Source& source;
    uint32_t pointer;     // bytes of a pointer
    uint32_t compression; // 0 raw, 1 RLE
    uint64_t end;         // behind the highest byte reached
};

void Reach(Xcf& xcf, uint64_t to) {
    if (to > xcf.end) xcf.end = to;
}

// The pointer at at: 0, or an offset inside the data past the header.
bool ReadPointer(Xcf& xcf, uint64_t at, uint64_t* value) {
    const uint8_t* p = xcf.source.Peek(at, xcf.pointer);
    if (p == nullptr) return false;
    *value = xcf.pointer == 8 ? Be64(p) : Be32(p);
    Reach(xcf, at + xcf.pointer);
    return *value == 0 || (*value >= 26 && *value < xcf.source.size());
}

// Properties from at to PROP_END (type 0, length 0); each length within the
// data. Sets after behind PROP_END, and compression when asked.
bool PropertiesEnd(Xcf& xcf, uint64_t at, uint64_t* after, uint32_t* compression) {
    for (;;) {
        uint32_t type = 0, length = 0;
        if (!xcf.source.Step() || !xcf.source.Be32(at, &type) || !xcf.source.Be32(at + 4, &length)) return false;
        if (type >= kMaxProperty || length > xcf.source.size() - at - 8) return false;
        if (type == kPropEnd) {
            if (length != 0) return false;
            *after = at + 8;
            Reach(xcf, *after);
            return true;
        }
        if (type == kPropCompression && compression != nullptr) {
            const uint8_t* value = xcf.source.Peek(at + 8, 1);
            if (length != 1 || value == nullptr || *value > 1) return false;  // no zlib, no fractal
            *compression = *value;
        }
        at += 8 + uint64_t{length};
    }
}

// A string: its length with the NUL, then the bytes, the last one NUL.
bool StringEnd(Xcf& xcf, uint64_t at, uint64_t* after) {
    uint32_t length = 0;
    if (!xcf.source.Be32(at, &length) || length > kMaxName) return false;
    if (length > 0) {
        const uint8_t* last = xcf.source.Peek(at + 4 + length - 1, 1);
        if (last == nullptr || *last != 0) return false;
    }
    *after = at + 4 + length;
    return true;
}

// One RLE plane of count bytes from at: short and long runs and literals.
bool PlaneEnd(Source& source, uint64_t at, uint64_t count, uint64_t* after) {
    const uint8_t* chunk = nullptr;
    uint64_t start = 0;
    uint32_t size = 0;
    auto byte = [&](uint64_t offset) -> int {
        if (chunk == nullptr || offset < start || offset >= start + size) {
            const uint64_t left = offset < source.size() ? source.size() - offset : 0;
            size = left < kChunk ? static_cast<uint32_t>(left) : kChunk;
            chunk = size > 0 ? source.Peek(offset, size) : nullptr;
            if (chunk == nullptr) return -1;
            start = offset;
        }
        return chunk[offset - start];
    };
    while (count > 0) {
        const int n = byte(at);
        if (n < 0) return false;
        uint64_t length = 0;
        bool literal = n >= 128;
        if (n == 127 || n == 128) {
            const int high = byte(at + 1), low = byte(at + 2);
            if (high < 0 || low < 0) return false;
            length = static_cast<uint64_t>(high) << 8 | static_cast<uint64_t>(low);
            at += 3;
        } else {
            length = literal ? 256 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n) + 1;
            at += 1;
        }
        if (length == 0 || length > count) return false;
        at += literal ? length : 1;
        count -= length;
    }
    if (at > source.size()) return false;
    *after = at;
    return true;
}

// One tile of width x height pixels of bpp bytes at at.
bool TileHolds(Xcf& xcf, uint64_t at, uint32_t width, uint32_t height, uint32_t bpp) {
    const uint64_t pixels = uint64_t{width} * height;
    if (xcf.compression == 0) {
        const uint64_t bytes = pixels * bpp;
        if (bytes > xcf.source.size() - at) return false;
        Reach(xcf, at + bytes);
        return true;
    }
    for (uint32_t plane = 0; plane < bpp; ++plane) {
        if (!PlaneEnd(xcf.source, at, pixels, &at)) return false;
    }
    Reach(xcf, at);
    return true;
}

// A level at at: its size (the hierarchy's for the first level) and its
// tile pointers to 0. GIMP writes the smaller levels after the first empty,
// ended by a 4-byte 0 whatever the pointer size, and reads none of them.
bool LevelHolds(Xcf& xcf, uint64_t at, uint32_t width, uint32_t height, uint32_t bpp, bool first) {
    uint32_t w = 0, h = 0, none = 1;
    if (!xcf.source.Be32(at, &w) || !xcf.source.Be32(at + 4, &h)) return false;
    if (!first) {
        if (w == 0 || h == 0 || w > width || h > height || !xcf.source.Be32(at + 8, &none) || none != 0) return false;
        Reach(xcf, at + 12);
        return true;
    }
    if (w != width || h != height) return false;
    const uint64_t across = (w + kTile - 1) / kTile, tiles = across * ((h + kTile - 1) / kTile);
    uint64_t table = at + 8;
    for (uint64_t tile = 0;; ) {
        uint64_t batch[kPointerBatch];
        uint32_t count = 0;
        while (count < kPointerBatch) {
            if (!ReadPointer(xcf, table, &batch[count])) return false;
            table += xcf.pointer;
            if (batch[count] == 0) break;
            ++count;
        }
        if (tile + count > tiles) return false;
        for (uint32_t i = 0; i < count; ++i, ++tile) {
            const uint64_t column = tile % across, row = tile / across;
            const uint32_t tw = static_cast<uint32_t>(w - column * kTile < kTile ? w - column * kTile : kTile);
            const uint32_t th = static_cast<uint32_t>(h - row * kTile < kTile ? h - row * kTile : kTile);
            if (!xcf.source.Step() || !TileHolds(xcf, batch[i], tw, th, bpp)) return false;
        }
        if (count < kPointerBatch) return tile == tiles;
    }
}

// A hierarchy: the drawable's size, bytes per pixel, the levels to 0.
bool HierarchyHolds(Xcf& xcf, uint64_t at, uint32_t width, uint32_t height) {
    uint32_t w = 0, h = 0, bpp = 0;
    if (!xcf.source.Be32(at, &w) || !xcf.source.Be32(at + 4, &h) || !xcf.source.Be32(at + 8, &bpp)) return false;
    if (w != width || h != height || bpp < 1 || bpp > 32) return false;
    uint64_t level = 0;
    for (uint64_t table = at + 12;; table += xcf.pointer) {
        if (!xcf.source.Step() || !ReadPointer(xcf, table, &level)) return false;
        if (level == 0) return table > at + 12;
        if (!LevelHolds(xcf, level, w, h, bpp, table == at + 12)) return false;
    }
}

// A channel (or a layer mask) of the given size at at.
bool ChannelHolds(Xcf& xcf, uint64_t at, uint32_t width, uint32_t height) {
    uint32_t w = 0, h = 0;
    uint64_t hierarchy = 0;
    if (!xcf.source.Be32(at, &w) || !xcf.source.Be32(at + 4, &h) || w != width || h != height) return false;
    if (!StringEnd(xcf, at + 8, &at) || !PropertiesEnd(xcf, at, &at, nullptr)) return false;
    return ReadPointer(xcf, at, &hierarchy) && hierarchy != 0 && HierarchyHolds(xcf, hierarchy, w, h);
}

// A layer at at: size, type, name, properties, hierarchy, and its mask.
bool LayerHolds(Xcf& xcf, uint64_t at) {
    uint32_t w = 0, h = 0, type = 0;
    uint64_t hierarchy = 0, mask = 0;
    if (!xcf.source.Be32(at, &w) || !xcf.source.Be32(at + 4, &h) || !xcf.source.Be32(at + 8, &type)) return false;
    if (w < 1 || w > kMaxSide || h < 1 || h > kMaxSide || type > 5) return false;
    if (!StringEnd(xcf, at + 12, &at) || !PropertiesEnd(xcf, at, &at, nullptr)) return false;
    if (!ReadPointer(xcf, at, &hierarchy) || hierarchy == 0 || !ReadPointer(xcf, at + xcf.pointer, &mask)) {
        return false;
    }
    return HierarchyHolds(xcf, hierarchy, w, h) && (mask == 0 || ChannelHolds(xcf, mask, w, h));
}

// The version after "gimp xcf ": "file" (0) or "v" and three digits.
bool ReadVersion(const uint8_t* p, uint32_t* version) {
    if (p[4] != 0) return false;
    if (std::memcmp(p, "file", 4) == 0) {
        *version = 0;
        return true;
    }
    if (p[0] != 'v') return false;
    *version = 0;
    for (int i = 1; i < 4; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        *version = *version * 10 + static_cast<uint32_t>(p[i] - '0');
    }
    return true;
}

}  // namespace

bool WalkXcf(Source& source, Found* found) {
    const uint8_t* p = source.Peek(0, 30);
    uint32_t version = 0;
    if (p == nullptr || std::memcmp(p, "gimp xcf ", 9) != 0 || !ReadVersion(p + 9, &version)) return false;
    const uint32_t width = Be32(p + 14), height = Be32(p + 18), base = Be32(p + 22);
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide || base > 2) return false;
    if (version >= 4 && Be32(p + 26) > 750) return false;  // precision
    Xcf xcf{source, version >= 11 ? 8u : 4u, 0, 0};
    uint64_t at = version >= 4 ? 30 : 26;
    if (!PropertiesEnd(xcf, at, &at, &xcf.compression)) return false;
    // Layers, then channels; each list ends with a 0 pointer.
    for (int list = 0; list < 2; ++list) {
        for (uint64_t item = 0;; at += xcf.pointer) {
            if (!source.Step() || !ReadPointer(xcf, at, &item)) return false;
            if (item == 0) break;
            if (list == 0 ? !LayerHolds(xcf, item) : !ChannelHolds(xcf, item, width, height)) return false;
        }
        at += xcf.pointer;
    }
    *found = {xcf.end, "xcf", "GIMP image"};
    return true;
}

}  // namespace formathound
