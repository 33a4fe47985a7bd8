// Photoshop PSD and PSB: the 26-byte header ("8BPS", version 1 or 2), then
// three sections by their lengths (colour mode data, image resources, layer
// and mask information) and the merged image data, which ends the file.
//
// The image resources are walked one by one and must fill their section;
// the layer section is skipped by its length (PSB gives it 8 bytes). The
// image data is raw (its size follows from the header) or PackBits RLE: a
// table of one byte count per row and channel, each count within what a
// row of that width can take, whose sum gives the end; the first and the
// last row are decoded to their exact width. ZIP-compressed image data has
// no length and is not decoded here: it is rejected (Photoshop writes ZIP
// only inside layers, which the walk skips whole).
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kHeaderBytes = 26;
// Rows and counts of the RLE table read at once: one step each.
constexpr uint32_t kTableChunk = 4096;

struct Header {
    bool large;          // PSB: 8-byte layer section length, 4-byte row counts
    uint32_t mode;       // colour mode: 2 indexed, 8 duotone
    uint32_t channels;
    uint32_t height;
    uint64_t row_bytes;  // one channel's row
};

// The header's fields, within the limits of each version; bitmap mode is
// 1 bit deep and only it.
bool ReadHeader(Source& source, Header* header) {
    const uint8_t* p = source.Peek(0, kHeaderBytes);
    if (p == nullptr || !Is(p, "8BPS")) return false;
    const uint32_t version = Be16(p + 4);
    if (version != 1 && version != 2) return false;
    for (int i = 6; i < 12; ++i) {
        if (p[i] != 0) return false;
    }
    const uint32_t channels = Be16(p + 12), height = Be32(p + 14), width = Be32(p + 18);
    const uint32_t depth = Be16(p + 22), mode = Be16(p + 24);
    const uint32_t limit = version == 1 ? 30000 : 300000;
    if (channels < 1 || channels > 56 || height < 1 || height > limit || width < 1 || width > limit) return false;
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return false;
    // Modes 5 and 6 do not exist.
    if (mode > 9 || mode == 5 || mode == 6 || (mode == 0) != (depth == 1)) return false;
    *header = {version == 2, mode, channels, height, (uint64_t{width} * depth + 7) / 8};
    return true;
}

// The resource signatures Photoshop and its relatives write.
bool KnownSignature(const uint8_t* p) {
    return Is(p, "8BIM") || Is(p, "MeSa") || Is(p, "AgHg") || Is(p, "PHUT") || Is(p, "DCSR");
}

// The image resources between at and end: signature, ID, a Pascal name
// padded to even, a length and data padded to even; they fill the section.
bool ResourcesFill(Source& source, uint64_t at, uint64_t end) {
    while (at < end) {
        const uint8_t* p = end - at >= 12 ? source.Peek(at, 7) : nullptr;
        if (!source.Step() || p == nullptr || !KnownSignature(p)) return false;
        const uint64_t name = 6 + ((p[6] + 2u) & ~1u);
        uint32_t size = 0;
        if (end - at < name + 4 || !source.Be32(at + name, &size)) return false;
        const uint64_t data = at + name + 4, padded = uint64_t{size} + (size & 1);
        if (padded > end - data) return false;
        at = data + padded;
    }
    return true;
}

// One PackBits row of count bytes at offset at: it must decode to exactly
// width bytes with its last run.
bool RowDecodes(Source& source, uint64_t at, uint32_t count, uint64_t width) {
    uint64_t out = 0;
    uint32_t used = 0;
    while (used < count) {
        const uint32_t left = count - used;
        const uint8_t* p = source.Peek(at + used, left < kTableChunk ? left : kTableChunk);
        if (p == nullptr) return false;
        const uint32_t n = p[0];
        if (n < 128) {
            if (n + 2u > left) return false;
            used += n + 2;
            out += n + 1;
        } else if (n > 128) {
            if (left < 2) return false;
            used += 2;
            out += 257 - n;
        } else {
            used += 1;  // no operation
        }
        if (out > width) return false;
    }
    return out == width;
}

// The RLE image data at offset at: its table of row counts and the rows.
// Sets end behind the last row.
bool RleFits(Source& source, const Header& header, uint64_t at, uint64_t* end) {
    const uint32_t field = header.large ? 4 : 2;
    const uint64_t rows = uint64_t{header.height} * header.channels;
    if (rows * field > source.size() - at) return false;
    // PackBits spends at least two bytes on 128 equal bytes and at most
    // two on one byte.
    const uint64_t least = (header.row_bytes + 127) / 128 * 2, most = header.row_bytes * 2;
    uint64_t total = 0;
    uint32_t first = 0, last = 0;
    for (uint64_t row = 0; row < rows;) {
        const uint64_t batch = rows - row < kTableChunk / field ? rows - row : kTableChunk / field;
        const uint8_t* p = source.Peek(at + row * field, static_cast<uint32_t>(batch * field));
        if (!source.Step() || p == nullptr) return false;
        for (uint64_t i = 0; i < batch; ++i, ++row) {
            const uint32_t count = header.large ? Be32(p + i * 4) : Be16(p + i * 2);
            if (count < least || count > most) return false;
            if (row == 0) first = count;
            last = count;
            total += count;
        }
    }
    const uint64_t data = at + rows * field;
    if (total > source.size() - data) return false;  // cut short
    *end = data + total;
    return RowDecodes(source, data, first, header.row_bytes) &&
           RowDecodes(source, *end - last, last, header.row_bytes);
}

}  // namespace

bool WalkPsd(Source& source, Found* found) {
    Header header;
    if (!ReadHeader(source, &header)) return false;
    // Colour mode data: the palette of indexed images, duotone data, or none.
    uint32_t colors = 0;
    if (!source.Be32(kHeaderBytes, &colors)) return false;
    if (header.mode == 2 ? colors != 768 : header.mode != 8 && colors != 0) return false;
    uint64_t at = kHeaderBytes + 4;
    uint32_t resources = 0;
    if (colors > source.size() - at || !source.Be32(at + colors, &resources)) return false;
    at += colors + 4;
    if (resources > source.size() - at || !ResourcesFill(source, at, at + resources)) return false;
    at += resources;
    // Layer and mask information: its layer info length must fit in it.
    const uint32_t field = header.large ? 8 : 4;
    uint64_t layers = 0, layer_info = 0;
    const uint8_t* p = source.size() - at >= 2 * field ? source.Peek(at, 2 * field) : nullptr;
    if (p == nullptr) return false;
    layers = header.large ? Be64(p) : Be32(p);
    layer_info = header.large ? Be64(p + 8) : Be32(p + 4);
    if (layers > source.size() - at - field) return false;
    if (layers > 0 && (layers < field || layer_info > layers - field)) return false;
    at += field + layers;
    uint32_t compression = 0;
    if (!source.Be16(at, &compression)) return false;
    at += 2;
    uint64_t end = 0;
    if (compression == 0) {
        const uint64_t bytes = header.row_bytes * header.height * header.channels;
        if (bytes > source.size() - at) return false;
        end = at + bytes;
    } else if (compression != 1 || !RleFits(source, header, at, &end)) {
        return false;
    }
    *found = header.large ? Found{end, "psb", "Photoshop large document"} : Found{end, "psd", "Photoshop image"};
    return true;
}

}  // namespace formathound
