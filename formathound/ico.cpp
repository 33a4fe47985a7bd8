// Windows icons and cursors: a 6-byte header (reserved 0, type 1 icon or 2
// cursor, image count), a directory of 16-byte entries (width, height,
// colour count, reserved 0, planes and bit count or a cursor's hot spot,
// bytes, offset), and the images the entries point at, each a DIB or a PNG.
// The item ends behind the image that ends last.
//
// Four bytes at the start are all the gate has, and they are common in
// binary data: the directory is checked first, in the bytes the gate already
// read, and each image must then hold. A DIB's header must give the entry's
// width, twice its height (colour and mask), and bytes that its pixels, its
// palette and its mask account for; a PNG must be the entry's size, its
// chunks walked from IHDR to IEND.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kEntryBytes = 16;
constexpr uint32_t kDibBytes = 40;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct Entry {
    uint32_t width, height;  // 0 in the entry stands for 256
    uint32_t bytes, offset;
};

// An entry's fixed fields: reserved 0; for icons, planes 0 or 1 and a bit
// count that exists; for cursors, a hot spot inside the image.
bool EntryHolds(const uint8_t* p, bool cursor, Entry* entry) {
    const uint32_t width = p[0] ? p[0] : 256, height = p[1] ? p[1] : 256;
    const uint32_t planes = Le16(p + 4), bits = Le16(p + 6);
    if (p[3] != 0) return false;
    if (cursor) {
        if (planes >= width || bits >= height) return false;
    } else if (planes > 1 || (bits != 0 && bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
                              bits != 32)) {
        return false;
    }
    *entry = {width, height, Le32(p + 8), Le32(p + 12)};
    return true;
}

// A DIB: the header's size, the entry's width, twice its height, one plane,
// a bit count that exists, no compression (or bit fields, whose three masks
// follow a 40-byte header); the entry's bytes hold the palette and the
// colour rows, and at most the mask rows besides.
bool DibHolds(const uint8_t* p, const Entry& entry) {
    const uint32_t size = Le32(p), width = Le32(p + 4), height = Le32(p + 8);
    const uint32_t planes = Le16(p + 12), bits = Le16(p + 14), compression = Le32(p + 16);
    const uint32_t used = Le32(p + 32);
    if (size != kDibBytes && size != 108 && size != 124) return false;
    if (width != entry.width || height != 2 * entry.height || planes != 1) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32))) return false;
    uint64_t colors = used;
    if (bits <= 8) {
        if (used > (1u << bits)) return false;
        colors = used ? used : 1u << bits;
    } else if (used > 256) {
        return false;
    }
    const uint64_t masks = compression == 3 && size == kDibBytes ? 12 : 0;
    const uint64_t pixels = (uint64_t{width} * bits + 31) / 32 * 4 * entry.height;
    const uint64_t mask = (uint64_t{width} + 31) / 32 * 4 * entry.height;
    const uint64_t least = size + masks + colors * 4 + pixels;
    return entry.bytes >= least && entry.bytes <= least + mask;
}

// A PNG of exactly the entry's bytes: IHDR first, of the entry's width and
// height (or more, for an entry that says 256), chunks to IEND.
bool PngHolds(Source& source, const Entry& entry) {
    const uint64_t end = uint64_t{entry.offset} + entry.bytes;
    const uint8_t* p = entry.bytes >= 8 + 25 + 12 ? source.Peek(entry.offset + 8, 16) : nullptr;
    if (p == nullptr || Be32(p) != 13 || !Is(p + 4, "IHDR")) return false;
    const uint32_t width = Be32(p + 8), height = Be32(p + 12);
    if (entry.width == 256 ? width < 256 : width != entry.width) return false;
    if (entry.height == 256 ? height < 256 : height != entry.height) return false;
    for (uint64_t at = entry.offset + 8; at < end;) {
        const uint8_t* chunk = end - at >= 12 ? source.Peek(at, 8) : nullptr;
        if (!source.Step() || chunk == nullptr) return false;
        for (int i = 4; i < 8; ++i) {
            const uint8_t letter = chunk[i] & ~0x20;
            if (letter < 'A' || letter > 'Z') return false;
        }
        const uint32_t length = Be32(chunk);
        if (length > end - at - 12) return false;
        at += 12 + uint64_t{length};
        if (Is(chunk + 4, "IEND")) return at == end;
    }
    return false;
}

}  // namespace

bool WalkIco(Source& source, Found* found) {
    const uint8_t* head = source.Peek(0, 6);
    if (head == nullptr || Le16(head) != 0) return false;
    const uint32_t type = Le16(head + 2), count = Le16(head + 4);
    if ((type != 1 && type != 2) || count < 1 || count > 255) return false;
    const uint32_t directory = 6 + count * kEntryBytes;
    Entry entries[255];
    const uint8_t* p = source.Peek(6, count * kEntryBytes);
    if (p == nullptr) return false;
    for (uint32_t i = 0; i < count; ++i) {
        Entry& entry = entries[i];
        if (!EntryHolds(p + i * kEntryBytes, type == 2, &entry) || entry.offset < directory ||
            entry.bytes < kDibBytes || entry.offset > source.size() || entry.bytes > source.size() - entry.offset) {
            return false;
        }
    }
    uint64_t end = directory;
    for (uint32_t i = 0; i < count; ++i) {
        const Entry& entry = entries[i];
        const uint8_t* image = source.Peek(entry.offset, kDibBytes);
        if (!source.Step() || image == nullptr) return false;
        if (std::memcmp(image, kPngSignature, 8) == 0 ? !PngHolds(source, entry) : !DibHolds(image, entry)) {
            return false;
        }
        if (entry.offset + uint64_t{entry.bytes} > end) end = entry.offset + uint64_t{entry.bytes};
    }
    *found = type == 2 ? Found{end, "cur", "Windows cursor"} : Found{end, "ico", "Windows icon"};
    return true;
}

}  // namespace formathound
