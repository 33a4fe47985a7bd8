// Truevision TGA images: an 18-byte header (ID length, colour map type,
// image type, colour map, origin, size, depth, descriptor), the ID, the
// colour map, the image data (raw, or RLE packets walked to the image's
// pixel count), and, when present, a TGA 2.0 footer ("TRUEVISION-XFILE.")
// behind the extension and developer areas it points at.
//
// TGA has no magic number: a header is all there is, and its bytes (zeros,
// small numbers) are common in other binary data. So the header must hold
// strictly: no colour map fields without a colour map, the origin at 0 (or
// a y origin at the height), sides up to 16384, a depth the image type
// allows and the descriptor's alpha bits matching it. Raw images without a
// footer have nothing more to check and are accepted on that header; RLE
// images must also walk to their exact pixel count. Without a footer, an
// image of fewer than 64 pixels is taken for chance and rejected. Images
// whose ID length is not 0 (the gate expects 0), whose origin is elsewhere,
// whose pixels run right to left, or which are wider or taller than 16384
// are not found.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kHeaderBytes = 18;
constexpr uint32_t kFooterBytes = 26;
constexpr uint32_t kExtensionBytes = 495;
constexpr uint32_t kMaxSide = 16384;
constexpr uint32_t kMinPixels = 64;
constexpr uint32_t kChunk = 4096;
// How far past the image data a footer is looked for (developer areas).
constexpr uint32_t kFooterSearch = 65536;
const char kSignature[] = "TRUEVISION-XFILE.";  // and its NUL: 18 bytes

struct Header {
    uint64_t data;       // offset of the image data
    uint64_t pixels;     // width times height
    uint32_t pixel_bytes;
    bool rle;
};

bool HeaderHolds(const uint8_t* p, Header* header) {
    const uint32_t id = p[0], map_type = p[1], type = p[2];
    const uint32_t map_length = Le16(p + 5), map_depth = p[7];
    const uint32_t x = Le16(p + 8), y = Le16(p + 10), width = Le16(p + 12), height = Le16(p + 14);
    const uint32_t depth = p[16], descriptor = p[17], alpha = descriptor & 0x0F;
    const uint32_t kind = type & 7;  // 1 colour-mapped, 2 true colour, 3 gray
    if ((type & ~8u) != kind || kind < 1 || kind > 3 || map_type > 1 || (kind == 1) != (map_type == 1)) return false;
    if (map_type == 0) {
        for (int i = 3; i < 8; ++i) {
            if (p[i] != 0) return false;
        }
    } else if (map_length == 0 || (map_depth != 15 && map_depth != 16 && map_depth != 24 && map_depth != 32)) {
        return false;
    }
    if (x != 0 || (y != 0 && y != height) || width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
        return false;
    }
    // Reserved bits; right-to-left pixel order, which no writer uses.
    if (descriptor & 0xD0) return false;
    switch (depth) {
        case 8: if (alpha != 0 || kind == 2) return false; break;
        case 15: if (alpha != 0 || kind != 2) return false; break;
        case 16: if (kind == 2 ? alpha > 1 : alpha != 8 && alpha != 0) return false; break;
        case 24: if (alpha != 0 || kind != 2) return false; break;
        case 32: if ((alpha != 8 && alpha != 0) || kind != 2) return false; break;
        default: return false;
    }
    const uint64_t map_bytes = uint64_t{map_length} * ((map_depth + 7) / 8);
    *header = {kHeaderBytes + id + map_bytes, uint64_t{width} * height, (depth + 7) / 8, (type & 8) != 0};
    return true;
}

// RLE packets from the data on, to exactly the image's pixels; a packet
// may run across rows, as many writers let it. Sets end behind the last.
bool PacketsFill(Source& source, const Header& header, uint64_t* end) {
    uint64_t at = header.data, pixels = 0;
    const uint8_t* chunk = nullptr;
    uint64_t start = 0;
    uint32_t count = 0;
    while (pixels < header.pixels) {
        if (chunk == nullptr || at < start || at >= start + count) {
            const uint64_t left = at < source.size() ? source.size() - at : 0;
            count = left < kChunk ? static_cast<uint32_t>(left) : kChunk;
            chunk = count > 0 && source.Step() ? source.Peek(at, count) : nullptr;
            if (chunk == nullptr) return false;
            start = at;
        }
        const uint32_t packet = chunk[at - start];
        const uint64_t run = (packet & 0x7F) + 1;
        at += 1 + (packet & 0x80 ? 1 : run) * header.pixel_bytes;
        pixels += run;
    }
    if (pixels != header.pixels || at > source.size()) return false;
    *end = at;
    return true;
}

// The footer at offset at, for image data that ends at data: an extension
// area offset that is 0 or points at an area of its size in between, and a
// developer area offset that is 0 or points in between.
bool FooterAt(Source& source, uint64_t at, uint64_t data) {
    const uint8_t* p = source.size() - at >= kFooterBytes ? source.Peek(at, kFooterBytes) : nullptr;
    if (p == nullptr || std::memcmp(p + 8, kSignature, sizeof(kSignature)) != 0) return false;
    const uint32_t extension = Le32(p), developer = Le32(p + 4);
    if (developer != 0 && (developer < data || developer >= at)) return false;
    if (extension == 0) return true;
    uint32_t size = 0;
    return at >= kExtensionBytes && extension >= data && extension <= at - kExtensionBytes &&
           source.Le16(extension, &size) && size == kExtensionBytes;
}

// The end of the footer behind image data that ends at data, or data when
// there is none: directly behind it, behind an extension area there, or
// behind a developer area a little further on.
uint64_t FooterEnd(Source& source, uint64_t data) {
    if (FooterAt(source, data, data)) return data + kFooterBytes;
    uint32_t size = 0;
    if (source.Le16(data, &size) && size == kExtensionBytes && FooterAt(source, data + kExtensionBytes, data)) {
        return data + kExtensionBytes + kFooterBytes;
    }
    const uint64_t left = source.size() - data;
    const uint32_t span = static_cast<uint32_t>(left < kFooterSearch ? left : kFooterSearch);
    const uint8_t* p = span >= kFooterBytes ? source.Peek(data, span) : nullptr;
    for (uint32_t i = 0; p != nullptr && i + kFooterBytes <= span; ++i) {
        if (p[i + 8] != 'T' || std::memcmp(p + i + 8, kSignature, sizeof(kSignature)) != 0) continue;
        const uint32_t extension = Le32(p + i), developer = Le32(p + i + 4);
        // The search window is gone once FooterAt reads elsewhere.
        if (developer != 0 || extension != 0) return FooterAt(source, data + i, data) ? data + i + kFooterBytes : data;
    }
    return data;
}

}  // namespace

bool WalkTga(Source& source, Found* found) {
    const uint8_t* p = source.Peek(0, kHeaderBytes);
    Header header;
    if (p == nullptr || !HeaderHolds(p, &header)) return false;
    uint64_t end = 0;
    if (header.rle) {
        if (!PacketsFill(source, header, &end)) return false;
    } else {
        const uint64_t bytes = header.pixels * header.pixel_bytes;
        if (header.data > source.size() || bytes > source.size() - header.data) return false;
        end = header.data + bytes;
    }
    // Without a footer, tiny images are more likely chance than pictures.
    const uint64_t item = FooterEnd(source, end);
    if (item == end && header.pixels < kMinPixels) return false;
    *found = {item, "tga", "Truevision TGA image"};
    return true;
}

}  // namespace formathound
