// Picture checkers: Netpbm (P1-P6 and PAM), TGA, PSD and PSB, ICO and CUR,
// GIMP XCF. Each reads the header's fields against each other and against
// the bytes they describe: Netpbm rasters to their exact size or sample
// count, TGA colour maps and RLE packets, PSD sections, layer channels and
// PackBits rows, the images of an icon (PNGs decoded by libspng, DIB headers
// against their entries), XCF pointers, properties, pixel sizes and tiles.
#include <spng.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "host/check/check.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason); one table for the five.
enum PictureReason : uint8_t {
    kNoReason,
    kCutShort,
    kBadHeader,
    kBadSample,
    kBadTupleType,
    kBadColorMap,
    kBadPackets,
    kBadFooter,
    kBadSection,
    kBadResource,
    kBadLayer,
    kBadRows,
    kUnknownCompression,
    kBadEntry,
    kOverlap,
    kBadPng,
    kBadDib,
    kTooLarge,
    kBadVersion,
    kBadProperty,
    kBadPointer,
    kBadHierarchy,
    kBadTile,
    kNoEnd,
    kReasonCount,
};

const char* const kReasons[] = {
    "",
    "cut short",
    "bad header",
    "sample above the largest value",
    "tuple type against depth or largest value",
    "bad colour map",
    "bad RLE packets",
    "bad footer",
    "bad section length",
    "bad image resource",
    "bad layer record",
    "bad RLE rows",
    "compression not known",
    "bad directory entry",
    "images overlap",
    "bad PNG image",
    "bad DIB header",
    "too large to check",
    "version not known",
    "bad property",
    "bad pointer",
    "bad hierarchy",
    "bad tile",
    "no end found",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

// ---- Netpbm

constexpr uint32_t kMaxNetpbmSide = 0x7FFFFFFF;

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

struct Span {
    const uint8_t* data;
    uint64_t size;
    int At(uint64_t at) const { return at < size ? data[at] : -1; }
};

// Whitespace and comments from at on; false when there are none.
bool SkipSpace(const Span& s, uint64_t* at) {
    const uint64_t from = *at;
    for (int c; (c = s.At(*at)) >= 0; ++*at) {
        if (c == '#') {
            while ((c = s.At(*at)) >= 0 && c != '\n' && c != '\r') ++*at;
            if (c < 0) return false;
        } else if (!IsSpace(c)) {
            break;
        }
    }
    return *at > from;
}

// A decimal number no larger than max (ten digits at most).
bool ReadNumber(const Span& s, uint64_t* at, uint64_t max, uint32_t* value) {
    uint64_t number = 0;
    uint32_t digits = 0;
    for (int c; IsDigit(c = s.At(*at)); ++*at) {
        if (++digits > 10) return false;
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    if (digits == 0 || number > max) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

struct Pnm {
    char kind;
    uint32_t width, height, maxval, depth;
    uint64_t raster;
};

PictureReason PnmHeader(const Span& s, uint64_t start, Pnm* image) {
    const char kind = static_cast<char>(s.At(start + 1));
    const bool bitmap = kind == '1' || kind == '4';
    uint32_t fields[3] = {0, 0, 1};
    uint64_t at = start + 2;
    for (uint32_t i = 0; i < (bitmap ? 2u : 3u); ++i) {
        if (!SkipSpace(s, &at)) return s.At(at) < 0 ? kCutShort : kBadHeader;
        if (!ReadNumber(s, &at, i < 2 ? kMaxNetpbmSide : 65535, &fields[i]) || fields[i] == 0) {
            return s.At(at) < 0 ? kCutShort : kBadHeader;
        }
    }
    if (!IsSpace(s.At(at))) return s.At(at) < 0 ? kCutShort : kBadHeader;
    *image = {kind, fields[0], fields[1], fields[2], kind == '3' || kind == '6' ? 3u : 1u,
              kind <= '3' ? at : at + 1};
    return kNoReason;
}

// The tuple types Netpbm names, with the depth each takes; the alpha forms
// take one more.
bool TupleTypeFits(const char* type, uint32_t depth, uint32_t maxval) {
    struct Known { const char* name; uint32_t depth; };
    const Known kKnown[] = {{"BLACKANDWHITE", 1}, {"GRAYSCALE", 1}, {"RGB", 3}};
    for (const Known& known : kKnown) {
        const size_t n = std::strlen(known.name);
        if (std::strncmp(type, known.name, n) != 0) continue;
        const bool alpha = std::strcmp(type + n, "_ALPHA") == 0;
        if (type[n] != '\0' && !alpha) return true;  // some other type
        if (depth != known.depth + (alpha ? 1 : 0)) return false;
        return known.depth != 1 || known.name[0] != 'B' || maxval == 1;
    }
    return true;
}

// PAM: lines of a keyword and its value up to ENDHDR; WIDTH, HEIGHT, DEPTH
// and MAXVAL once each, TUPLTYPE lines joined.
PictureReason PamHeader(const Span& s, uint64_t start, Pnm* image) {
    uint32_t values[4] = {0, 0, 0, 0};
    const char* const kNames[4] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
    const uint64_t kMax[4] = {kMaxNetpbmSide, kMaxNetpbmSide, 0xFFFF, 0xFFFF};
    char type[64] = {};
    size_t type_length = 0;
    for (uint64_t at = start + 3;;) {
        while (s.At(at) == ' ' || s.At(at) == '\t' || s.At(at) == '\n' || s.At(at) == '\r') ++at;
        if (s.At(at) == '#') {
            while (s.At(at) >= 0 && s.At(at) != '\n') ++at;
            continue;
        }
        char word[9] = {};
        uint32_t length = 0;
        for (int c; (c = s.At(at)) >= 'A' && c <= 'Z'; ++at) {
            if (length == 8) return kBadHeader;
            word[length++] = static_cast<char>(c);
        }
        if (s.At(at) < 0) return kCutShort;
        if (std::strcmp(word, "ENDHDR") == 0) {
            if (s.At(at) != '\n' || values[0] == 0 || values[1] == 0 || values[2] == 0 || values[3] == 0) {
                return kBadHeader;
            }
            if (!TupleTypeFits(type, values[2], values[3])) return kBadTupleType;
            *image = {'7', values[0], values[1], values[3], values[2], at + 1};
            return kNoReason;
        }
        if (s.At(at) != ' ' && s.At(at) != '\t') return kBadHeader;
        while (s.At(at) == ' ' || s.At(at) == '\t') ++at;
        if (std::strcmp(word, "TUPLTYPE") == 0) {
            if (type_length > 0 && type_length + 1 < sizeof type) type[type_length++] = ' ';
            for (int c; (c = s.At(at)) != '\n'; ++at) {
                if (c < 0) return kCutShort;
                if (c < 0x20 || c > 0x7E) return kBadHeader;
                if (type_length + 1 < sizeof type) type[type_length++] = static_cast<char>(c);
            }
            while (type_length > 0 && type[type_length - 1] == ' ') type[--type_length] = '\0';
            continue;
        }
        uint32_t field = 0;
        while (field < 4 && std::strcmp(word, kNames[field]) != 0) ++field;
        if (field == 4 || values[field] != 0) return kBadHeader;
        if (!ReadNumber(s, &at, kMax[field], &values[field]) || values[field] == 0) {
            return s.At(at) < 0 ? kCutShort : kBadHeader;
        }
        while (s.At(at) == ' ' || s.At(at) == '\t' || s.At(at) == '\r') ++at;
        if (s.At(at) != '\n') return s.At(at) < 0 ? kCutShort : kBadHeader;
    }
}

// A binary raster: its exact size, every sample up to the largest value.
PictureReason BinaryRaster(const Span& s, const Pnm& image, uint64_t* end) {
    const uint64_t wide = image.maxval > 255 ? 2 : 1;
    const uint64_t row = image.kind == '4' ? (uint64_t{image.width} + 7) / 8
                                           : uint64_t{image.width} * image.depth * wide;
    if (image.raster > s.size) return kCutShort;
    const uint64_t room = s.size - image.raster;
    if (row > room / image.height) return kCutShort;
    *end = image.raster + row * image.height;
    if (image.kind == '4' || image.maxval == 255 || image.maxval == 65535) return kNoReason;
    for (const uint8_t* p = s.data + image.raster; p < s.data + *end; p += wide) {
        if ((wide == 2 ? Be16(p) : p[0]) > image.maxval) return kBadSample;
    }
    return kNoReason;
}

// A plain raster: exactly its samples, none above the largest value, then
// the line break behind the last one when only blanks come before it.
PictureReason PlainRaster(const Span& s, const Pnm& image, uint64_t* end) {
    const uint64_t samples = uint64_t{image.width} * image.height * image.depth;
    uint64_t at = image.raster;
    for (uint64_t n = 0; n < samples; ++n) {
        const uint64_t before = at;
        while (IsSpace(s.At(at))) ++at;
        const int c = s.At(at);
        if (c < 0) return kCutShort;
        uint32_t value = 0;
        if (image.kind == '1') {
            if (c != '0' && c != '1') return kBadSample;
            ++at;
        } else if (at == before || !ReadNumber(s, &at, image.maxval, &value)) {
            return s.At(at) < 0 ? kCutShort : kBadSample;
        }
    }
    uint64_t tail = at;
    while (tail - at < 64 && (s.At(tail) == ' ' || s.At(tail) == '\t' || s.At(tail) == '\r')) ++tail;
    *end = s.At(tail) == '\n' ? tail + 1 : at;
    return kNoReason;
}

PictureReason PnmImage(const Span& s, uint64_t start, char kind, uint64_t* end) {
    if (s.At(start) != 'P' || s.At(start + 1) != kind) return kBadHeader;
    if (kind == '7' ? s.At(start + 2) != '\n' : !IsSpace(s.At(start + 2))) return kBadHeader;
    Pnm image;
    const PictureReason header = kind == '7' ? PamHeader(s, start, &image) : PnmHeader(s, start, &image);
    if (header != kNoReason) return header;
    return kind <= '3' ? PlainRaster(s, image, end) : BinaryRaster(s, image, end);
}

CheckResult CheckNetpbm(CheckBytes bytes) {
    const Span s{bytes.data, bytes.size};
    const int kind = s.At(1);
    if (s.At(0) != 'P' || kind < '1' || kind > '7') return CheckInvalid(kBadHeader);
    uint64_t end = 0;
    const PictureReason reason = PnmImage(s, 0, static_cast<char>(kind), &end);
    if (reason != kNoReason) return CheckInvalid(reason);
    // Images of the same kind that follow at once and are whole belong to
    // the file, as Netpbm's tools write and read them.
    for (uint64_t next = 0; end < s.size && PnmImage(s, end, static_cast<char>(kind), &next) == kNoReason;) {
        end = next;
    }
    return CheckValid(end);
}

// ---- TGA

constexpr uint32_t kTgaHeader = 18, kTgaFooter = 26, kTgaExtension = 495;
// How far behind the image data a footer is looked for (developer areas).
constexpr uint64_t kTgaFooterSearch = 65536;
const char kTgaSignature[] = "TRUEVISION-XFILE.";  // and its NUL: 18 bytes

struct Tga {
    uint32_t kind;  // 1 colour-mapped, 2 true colour, 3 gray
    bool rle;
    uint32_t map_first, map_length;
    uint32_t pixel_bytes;
    uint64_t pixels, data;
};

PictureReason TgaHeader(CheckBytes bytes, Tga* tga) {
    if (bytes.size < kTgaHeader) return kCutShort;
    const uint8_t* p = bytes.data;
    const uint32_t id = p[0], map_type = p[1], type = p[2];
    const uint32_t map_first = Le16(p + 3), map_length = Le16(p + 5), map_depth = p[7];
    const uint32_t width = Le16(p + 12), height = Le16(p + 14), depth = p[16], descriptor = p[17];
    const uint32_t kind = type & 7, alpha = descriptor & 0x0F;
    if ((type & ~8u) != kind || kind < 1 || kind > 3 || map_type > 1 || (kind == 1 && map_type != 1)) {
        return kBadHeader;
    }
    if (map_type == 1) {
        if (map_length == 0 || map_first + map_length > 65536 ||
            (map_depth != 15 && map_depth != 16 && map_depth != 24 && map_depth != 32)) {
            return kBadColorMap;
        }
    }
    // Bits 6 and 7 of the descriptor are reserved.
    if (width == 0 || height == 0 || (descriptor & 0xC0) != 0) return kBadHeader;
    bool depth_fits = false;
    switch (kind) {
        case 1: depth_fits = (depth == 8 || depth == 16) && alpha <= 8; break;
        case 2:
            depth_fits = (depth == 15 || depth == 16) ? alpha <= 1
                         : depth == 24                  ? alpha == 0
                                                        : depth == 32 && alpha <= 8;
            break;
        default: depth_fits = depth == 8 ? alpha == 0 : depth == 16 && alpha <= 8; break;
    }
    if (!depth_fits) return kBadHeader;
    const uint64_t map_bytes = map_type == 1 ? uint64_t{map_length} * ((map_depth + 7) / 8) : 0;
    *tga = {kind, (type & 8) != 0, map_first, map_type == 1 ? map_length : 0, (depth + 7) / 8,
            uint64_t{width} * height, kTgaHeader + id + map_bytes};
    return tga->data > bytes.size ? kCutShort : kNoReason;
}

// A colour-mapped pixel's index lies in the map.
bool IndexFits(const Tga& tga, const uint8_t* pixel) {
    if (tga.kind != 1) return true;
    const uint32_t index = tga.pixel_bytes == 2 ? Le16(pixel) : pixel[0];
    return index >= tga.map_first && index - tga.map_first < tga.map_length;
}

// The image data, raw or in RLE packets, to exactly the image's pixels (a
// packet may run across rows, as many writers let it); sets end.
PictureReason TgaData(CheckBytes bytes, const Tga& tga, uint64_t* end) {
    const uint64_t room = bytes.size - tga.data;
    const uint8_t* p = bytes.data + tga.data;
    if (!tga.rle) {
        if (tga.pixels > room / tga.pixel_bytes) return kCutShort;
        *end = tga.data + tga.pixels * tga.pixel_bytes;
        for (uint64_t i = 0; i < tga.pixels; ++i) {
            if (!IndexFits(tga, p + i * tga.pixel_bytes)) return kBadColorMap;
        }
        return kNoReason;
    }
    uint64_t at = 0, pixels = 0;
    while (pixels < tga.pixels) {
        if (at >= room) return kCutShort;
        const uint32_t packet = p[at++];
        const uint64_t run = (packet & 0x7F) + 1, stored = packet & 0x80 ? 1 : run;
        if (stored * tga.pixel_bytes > room - at) return kCutShort;
        for (uint64_t i = 0; i < stored; ++i) {
            if (!IndexFits(tga, p + at + i * tga.pixel_bytes)) return kBadColorMap;
        }
        at += stored * tga.pixel_bytes;
        pixels += run;
    }
    if (pixels != tga.pixels) return kBadPackets;
    *end = tga.data + at;
    return kNoReason;
}

// An area of size bytes at offset, 0 or within [data, footer).
bool AreaFits(uint64_t offset, uint64_t size, uint64_t data, uint64_t footer) {
    return offset == 0 || (offset >= data && offset <= footer && size <= footer - offset);
}

// The footer at footer for image data ending at data: the extension area
// (its size field, its scan line table, postage stamp and colour
// correction table) and the developer directory's tags within the file.
bool TgaFooterHolds(CheckBytes bytes, const Tga& tga, uint64_t data, uint64_t footer) {
    const uint8_t* f = bytes.data + footer;
    const uint32_t extension = Le32(f), developer = Le32(f + 4);
    if (extension != 0) {
        if (!AreaFits(extension, kTgaExtension, data, footer) || Le16(bytes.data + extension) != kTgaExtension) {
            return false;
        }
        const uint8_t* e = bytes.data + extension;
        const uint32_t correction = Le32(e + 482), stamp = Le32(e + 486), lines = Le32(e + 490);
        if (e[494] > 4 || !AreaFits(correction, 2048, data, footer)) return false;
        const uint64_t rows = tga.pixels == 0 ? 0 : Le16(bytes.data + 14);
        if (!AreaFits(lines, 4 * rows, data, footer) || !AreaFits(stamp, 2, data, footer)) return false;
        if (stamp != 0) {
            const uint8_t* s = bytes.data + stamp;
            if (!AreaFits(stamp, 2 + uint64_t{s[0]} * s[1] * tga.pixel_bytes, data, footer)) return false;
        }
    }
    if (developer != 0) {
        if (!AreaFits(developer, 2, data, footer)) return false;
        const uint64_t tags = Le16(bytes.data + developer);
        if (!AreaFits(developer, 2 + 10 * tags, data, footer)) return false;
        for (uint64_t i = 0; i < tags; ++i) {
            const uint8_t* tag = bytes.data + developer + 2 + 10 * i;
            if (!AreaFits(Le32(tag + 2), Le32(tag + 6), data, footer)) return false;
        }
    }
    return true;
}

bool TgaSignatureAt(CheckBytes bytes, uint64_t at) {
    return at <= bytes.size && bytes.size - at >= kTgaFooter &&
           std::memcmp(bytes.data + at + 8, kTgaSignature, sizeof kTgaSignature) == 0;
}

CheckResult CheckTga(CheckBytes bytes) {
    Tga tga;
    PictureReason reason = TgaHeader(bytes, &tga);
    if (reason != kNoReason) return CheckInvalid(reason);
    uint64_t data = 0;
    reason = TgaData(bytes, tga, &data);
    if (reason != kNoReason) return CheckInvalid(reason);
    // A footer right behind the data or its extension area must hold; one
    // further on, behind developer data, only counts when it holds.
    uint64_t footer = data;
    if (!TgaSignatureAt(bytes, footer) && bytes.size - data >= 2 && Le16(bytes.data + data) == kTgaExtension) {
        footer = data + kTgaExtension;
    }
    if (TgaSignatureAt(bytes, footer)) {
        if (!TgaFooterHolds(bytes, tga, data, footer)) return CheckInvalid(kBadFooter);
        return CheckValid(footer + kTgaFooter);
    }
    const uint64_t limit = std::min<uint64_t>(bytes.size, data + kTgaFooterSearch);
    for (uint64_t at = data; at + kTgaFooter <= limit; ++at) {
        if (bytes.data[at + 8] != 'T' || !TgaSignatureAt(bytes, at)) continue;
        if (Le32(bytes.data + at) == 0 && Le32(bytes.data + at + 4) == 0) continue;
        if (TgaFooterHolds(bytes, tga, data, at)) return CheckValid(at + kTgaFooter);
        break;
    }
    return CheckValid(data);
}

// ---- PSD and PSB

constexpr uint32_t kPsdHeader = 26;

struct Psd {
    bool large;
    uint32_t channels, height, mode, depth;
    uint64_t row_bytes;
};

PictureReason PsdHeader(CheckBytes bytes, Psd* psd) {
    if (bytes.size < kPsdHeader + 4) return kCutShort;
    const uint8_t* p = bytes.data;
    const uint32_t version = Be16(p + 4), channels = Be16(p + 12), height = Be32(p + 14), width = Be32(p + 18);
    const uint32_t depth = Be16(p + 22), mode = Be16(p + 24);
    if (std::memcmp(p, "8BPS", 4) != 0 || (version != 1 && version != 2)) return kBadHeader;
    for (int i = 6; i < 12; ++i) {
        if (p[i] != 0) return kBadHeader;
    }
    const uint32_t limit = version == 1 ? 30000 : 300000;
    if (channels < 1 || channels > 56 || height < 1 || height > limit || width < 1 || width > limit) {
        return kBadHeader;
    }
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return kBadHeader;
    // Modes: 0 bitmap, 1 gray, 2 indexed, 3 RGB, 4 CMYK, 7 multichannel,
    // 8 duotone, 9 Lab; the channels each needs at least.
    const uint32_t kLeast[10] = {1, 1, 1, 3, 4, 0, 0, 1, 1, 3};
    if (mode > 9 || kLeast[mode] == 0 || channels < kLeast[mode]) return kBadHeader;
    if ((mode == 0) != (depth == 1) || (mode == 2 && depth != 8)) return kBadHeader;
    *psd = {version == 2, channels, height, mode, depth, (uint64_t{width} * depth + 7) / 8};
    return kNoReason;
}

// The image resources in [at, end): signature, ID, a Pascal name padded to
// even, a length and data padded to even; they fill the section.
bool ResourcesFill(const uint8_t* data, uint64_t at, uint64_t end) {
    while (at < end) {
        if (end - at < 12) return false;
        const uint8_t* p = data + at;
        if (std::memcmp(p, "8BIM", 4) != 0 && std::memcmp(p, "MeSa", 4) != 0 && std::memcmp(p, "AgHg", 4) != 0 &&
            std::memcmp(p, "PHUT", 4) != 0 && std::memcmp(p, "DCSR", 4) != 0) {
            return false;
        }
        const uint64_t name = 6 + ((p[6] + 2u) & ~1u);
        if (end - at < name + 4) return false;
        const uint64_t size = Be32(p + name), padded = size + (size & 1), after = at + name + 4;
        if (padded > end - after) return false;
        at = after + padded;
    }
    return true;
}

// One PackBits row of count bytes: it decodes to exactly width bytes.
bool RowDecodes(const uint8_t* p, uint64_t count, uint64_t width) {
    uint64_t out = 0;
    for (uint64_t used = 0; used < count;) {
        const uint32_t n = p[used];
        if (n < 128) {
            if (n + 2u > count - used) return false;
            used += n + 2;
            out += n + 1;
        } else if (n > 128) {
            if (count - used < 2) return false;
            used += 2;
            out += 257 - n;
        } else {
            used += 1;
        }
        if (out > width) return false;
    }
    return out == width;
}

// PackBits data of rows rows: the table of row byte counts (2 bytes each,
// 4 in PSB), then the rows, each decoding to width bytes; at most size
// bytes. Sets *used.
PictureReason RleRows(const uint8_t* p, uint64_t size, uint64_t rows, uint64_t width, bool large,
                      uint64_t* used) {
    const uint64_t field = large ? 4 : 2;
    if (rows > size / field) return kCutShort;
    uint64_t at = rows * field;
    for (uint64_t row = 0; row < rows; ++row) {
        const uint64_t count = large ? Be32(p + row * 4) : Be16(p + row * 2);
        if (count > size - at) return kCutShort;
        if (!RowDecodes(p + at, count, width)) return kBadRows;
        at += count;
    }
    *used = at;
    return kNoReason;
}

uint64_t ReadLength(const uint8_t* p, bool large) { return large ? Be64(p) : Be32(p); }

// The layer info at [at, end): the layer count, each layer's record, then
// each channel's data by the lengths the records give: its compression and,
// for raw and RLE data, the rows of the layer's rectangle.
PictureReason LayersHold(CheckBytes bytes, const Psd& psd, uint64_t at, uint64_t end) {
    if (end - at < 2) return kBadLayer;
    const uint8_t* d = bytes.data;
    const uint32_t count_field = Be16(d + at);
    const uint32_t layers = count_field & 0x8000 ? 0x10000 - count_field : count_field;
    at += 2;
    const uint64_t id_bytes = psd.large ? 10 : 6;
    struct Channel { int32_t id; uint64_t length; };
    struct Layer { uint64_t rows, columns; std::vector<Channel> channels; };
    std::vector<Layer> records;
    for (uint32_t i = 0; i < layers; ++i) {
        if (end - at < 18) return kBadLayer;
        const int32_t top = static_cast<int32_t>(Be32(d + at)), left = static_cast<int32_t>(Be32(d + at + 4));
        const int32_t bottom = static_cast<int32_t>(Be32(d + at + 8)), right = static_cast<int32_t>(Be32(d + at + 12));
        const uint32_t channels = Be16(d + at + 16);
        if (bottom < top || right < left || channels > 56) return kBadLayer;
        at += 18;
        Layer layer{static_cast<uint64_t>(int64_t{bottom} - top), static_cast<uint64_t>(int64_t{right} - left), {}};
        if (channels * id_bytes > end - at) return kBadLayer;
        for (uint32_t c = 0; c < channels; ++c, at += id_bytes) {
            const int32_t id = static_cast<int16_t>(Be16(d + at));
            layer.channels.push_back({id, ReadLength(d + at + 2, psd.large)});
        }
        // Blend mode signature and key, opacity, clipping, flags, filler,
        // and the extra data: mask data, blending ranges, name, more.
        if (end - at < 16 || std::memcmp(d + at, "8BIM", 4) != 0 || d[at + 9] > 1) return kBadLayer;
        const uint64_t extra = Be32(d + at + 12);
        at += 16;
        if (extra > end - at || extra < 9) return kBadLayer;
        const uint64_t mask = Be32(d + at);
        if (mask > extra - 8) return kBadLayer;
        const uint64_t ranges = Be32(d + at + 4 + mask);
        if (ranges > extra - 8 - mask || extra - 8 - mask - ranges < 1) return kBadLayer;
        const uint64_t name = (d[at + 8 + mask + ranges] + 4u) & ~3u;
        if (name > extra - 8 - mask - ranges) return kBadLayer;
        at += extra;
        records.push_back(std::move(layer));
    }
    for (const Layer& layer : records) {
        for (const Channel& channel : layer.channels) {
            if (channel.length > end - at || channel.length < 2) return kBadLayer;
            const uint32_t compression = Be16(d + at);
            const uint8_t* p = d + at + 2;
            const uint64_t size = channel.length - 2;
            // The user mask (-2) and real mask (-3) have a rectangle of their own.
            const bool own = channel.id >= -1;
            const uint64_t width = (layer.columns * psd.depth + 7) / 8;
            if (compression > 3) return kUnknownCompression;
            if (own && compression == 0 && size != width * layer.rows) return kBadLayer;
            uint64_t used = 0;
            if (own && compression == 1 && layer.rows > 0) {
                const PictureReason rows = RleRows(p, size, layer.rows, width, psd.large, &used);
                if (rows != kNoReason) return rows == kCutShort ? kBadLayer : rows;
                if (used != size) return kBadLayer;
            }
            at += channel.length;
        }
    }
    return kNoReason;
}

CheckResult CheckPsd(CheckBytes bytes) {
    Psd psd;
    PictureReason reason = PsdHeader(bytes, &psd);
    if (reason != kNoReason) return CheckInvalid(reason);
    const uint8_t* d = bytes.data;
    const uint64_t colors = Be32(d + kPsdHeader);
    if (psd.mode == 2 ? colors != 768 : psd.mode != 8 && colors != 0) return CheckInvalid(kBadSection);
    uint64_t at = kPsdHeader + 4;
    if (colors > bytes.size - at || bytes.size - at - colors < 4) return CheckInvalid(kCutShort);
    at += colors;
    const uint64_t resources = Be32(d + at);
    at += 4;
    if (resources > bytes.size - at) return CheckInvalid(kCutShort);
    if (!ResourcesFill(d, at, at + resources)) return CheckInvalid(kBadResource);
    at += resources;
    // Layer and mask information: the layer info first, within it.
    const uint64_t field = psd.large ? 8 : 4;
    if (bytes.size - at < field) return CheckInvalid(kCutShort);
    const uint64_t section = ReadLength(d + at, psd.large);
    at += field;
    if (section > bytes.size - at) return CheckInvalid(kCutShort);
    if (section > 0) {
        if (section < field) return CheckInvalid(kBadSection);
        const uint64_t info = ReadLength(d + at, psd.large);
        if (info > section - field) return CheckInvalid(kBadSection);
        if (info > 0) {
            reason = LayersHold(bytes, psd, at + field, at + field + info);
            if (reason != kNoReason) return CheckInvalid(reason);
        }
    }
    at += section;
    if (bytes.size - at < 2) return CheckInvalid(kCutShort);
    const uint32_t compression = Be16(d + at);
    at += 2;
    const uint64_t rows = uint64_t{psd.height} * psd.channels;
    if (compression == 0) {
        if (psd.row_bytes > (bytes.size - at) / rows) return CheckInvalid(kCutShort);
        return CheckValid(at + psd.row_bytes * rows);
    }
    // ZIP-compressed image data carries no length: its end is unknown.
    if (compression == 2 || compression == 3) return CheckUnknown(kUnknownCompression);
    if (compression != 1) return CheckInvalid(kUnknownCompression);
    uint64_t used = 0;
    reason = RleRows(d + at, bytes.size - at, rows, psd.row_bytes, psd.large, &used);
    if (reason != kNoReason) return CheckInvalid(reason);
    return CheckValid(at + used);
}

// ---- ICO and CUR

constexpr uint64_t kIcoEntry = 16;
// PNG images larger than this are not decoded.
constexpr uint32_t kMaxIconSide = 4096;

struct IconEntry {
    uint32_t width, height, colors, bits;
    uint64_t bytes, offset;
};

struct CtxFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

// A PNG of exactly the entry's bytes, of its size (or larger where the
// entry says 256), decoded whole.
PictureReason PngFits(const uint8_t* p, const IconEntry& entry) {
    // The chunks to IEND, which must end the entry's bytes.
    for (uint64_t at = 8;;) {
        if (entry.bytes - at < 12) return kBadPng;
        const uint64_t length = Be32(p + at);
        if (length > entry.bytes - at - 12) return kBadPng;
        at += 12 + length;
        if (std::memcmp(p + at - length - 8, "IEND", 4) == 0) {
            if (at != entry.bytes) return kBadPng;
            break;
        }
    }
    std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
    if (ctx == nullptr) return kTooLarge;
    spng_set_image_limits(ctx.get(), kMaxIconSide, kMaxIconSide);
    spng_set_chunk_limits(ctx.get(), entry.bytes, 16u << 20);
    spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    spng_set_png_buffer(ctx.get(), p, entry.bytes);
    spng_ihdr ihdr;
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) {
        return entry.bytes >= 24 && (Be32(p + 16) > kMaxIconSide || Be32(p + 20) > kMaxIconSide) ? kTooLarge
                                                                                                : kBadPng;
    }
    if (entry.width == 256 ? ihdr.width < 256 : ihdr.width != entry.width) return kBadEntry;
    if (entry.height == 256 ? ihdr.height < 256 : ihdr.height != entry.height) return kBadEntry;
    size_t size = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) return kBadPng;
    std::vector<uint8_t> image(size);
    if (spng_decode_image(ctx.get(), image.data(), size, SPNG_FMT_RGBA8, 0) != 0) return kBadPng;
    return kNoReason;
}

// A DIB: a 40-byte (or later) header of the entry's width, twice its height
// (colour rows and mask rows), one plane, the entry's bit count, no
// compression or bit fields; the entry's bytes hold the palette and the
// colour rows, and the mask rows or none; its image size 0 or one of those.
PictureReason DibFits(const uint8_t* p, const IconEntry& entry, bool cursor) {
    if (entry.bytes < 40) return kBadDib;
    const uint32_t size = Le32(p), width = Le32(p + 4), height = Le32(p + 8);
    const uint32_t planes = Le16(p + 12), bits = Le16(p + 14), compression = Le32(p + 16);
    const uint32_t image = Le32(p + 20), used = Le32(p + 32);
    if (size != 40 && size != 108 && size != 124) return kBadDib;
    if (width != entry.width || height != 2 * entry.height || planes != 1) return kBadDib;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return kBadDib;
    if (!cursor && entry.bits != 0 && entry.bits != bits) return kBadEntry;
    if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32))) return kBadDib;
    uint64_t colors = used;
    if (bits <= 8) {
        if (used > (1u << bits)) return kBadDib;
        colors = used != 0 ? used : 1u << bits;
        if (entry.colors != 0 && entry.colors != colors) return kBadEntry;
    } else if (used > 256) {
        return kBadDib;
    }
    const uint64_t masks = compression == 3 && size == 40 ? 12 : 0;
    const uint64_t pixels = (uint64_t{width} * bits + 31) / 32 * 4 * entry.height;
    const uint64_t mask = (uint64_t{width} + 31) / 32 * 4 * entry.height;
    const uint64_t least = size + masks + colors * 4 + pixels;
    if (image != 0 && image != pixels && image != pixels + mask) return kBadDib;
    if (entry.bytes < least || entry.bytes > least + mask) return kBadEntry;
    return kNoReason;
}

CheckResult CheckIco(CheckBytes bytes) {
    if (bytes.size < 6) return CheckInvalid(kCutShort);
    const uint8_t* d = bytes.data;
    const uint32_t type = Le16(d + 2), count = Le16(d + 4);
    if (Le16(d) != 0 || (type != 1 && type != 2) || count == 0) return CheckInvalid(kBadHeader);
    const uint64_t directory = 6 + kIcoEntry * count;
    if (bytes.size < directory) return CheckInvalid(kCutShort);
    std::vector<IconEntry> entries;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = d + 6 + kIcoEntry * i;
        IconEntry entry{p[0] != 0 ? p[0] : 256u, p[1] != 0 ? p[1] : 256u, p[2], Le16(p + 6), Le32(p + 8),
                        Le32(p + 12)};
        const uint32_t planes = Le16(p + 4);
        // Icons: planes 0 or 1 and a bit count; cursors: a hot spot inside.
        if (p[3] != 0 || (type == 2 ? planes >= entry.width || entry.bits >= entry.height : planes > 1)) {
            return CheckInvalid(kBadEntry);
        }
        if (entry.offset < directory || entry.bytes == 0) return CheckInvalid(kBadEntry);
        if (entry.offset > bytes.size || entry.bytes > bytes.size - entry.offset) return CheckInvalid(kCutShort);
        entries.push_back(entry);
    }
    std::vector<IconEntry> sorted = entries;
    std::sort(sorted.begin(), sorted.end(), [](const IconEntry& a, const IconEntry& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (sorted[i].offset < sorted[i - 1].offset + sorted[i - 1].bytes) return CheckInvalid(kOverlap);
    }
    bool unchecked = false;
    for (const IconEntry& entry : entries) {
        const uint8_t* p = d + entry.offset;
        const bool png = entry.bytes >= 8 && std::memcmp(p, "\x89PNG\r\n\x1A\n", 8) == 0;
        const PictureReason reason = png ? PngFits(p, entry) : DibFits(p, entry, type == 2);
        if (reason == kTooLarge) unchecked = true;
        else if (reason != kNoReason) return CheckInvalid(reason);
    }
    if (unchecked) return CheckUnknown(kTooLarge);
    return CheckValid(sorted.back().offset + sorted.back().bytes);
}

// ---- XCF

constexpr uint32_t kXcfMaxSide = 524288;
constexpr uint32_t kXcfTile = 64;
constexpr uint32_t kLatestXcf = 30;
constexpr uint32_t kPropEnd = 0, kPropColormap = 1, kPropCompression = 17;

struct Xcf {
    const uint8_t* data;
    uint64_t end;            // formathound's end of the item
    uint32_t pointer;        // 4 bytes, 8 from version 11
    uint32_t base;           // 0 RGB, 1 gray, 2 indexed
    uint32_t component;      // bytes per channel of a pixel
    uint32_t compression;    // 0 raw, 1 RLE
};

// The fixed lengths of the properties whose payload is one: opacity, mode,
// visible, linked, lock alpha, apply, edit and show mask, show masked,
// offsets, colour, compression, resolution, tattoo, unit; 0 for others.
uint32_t PropertyLength(uint32_t type) {
    switch (type) {
        case 6: case 7: case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 20: case 22: return 4;
        case 15: case 19: return 8;
        case 16: return 3;
        case 17: return 1;
        default: return 0;
    }
}

// Properties from at to PROP_END, each inside the item and of its length;
// sets *after behind PROP_END.
PictureReason Properties(Xcf& xcf, uint64_t at, uint64_t* after) {
    for (;;) {
        if (at > xcf.end || xcf.end - at < 8) return kBadProperty;
        const uint32_t type = Be32(xcf.data + at), length = Be32(xcf.data + at + 4);
        at += 8;
        if (length > xcf.end - at) return kBadProperty;
        if (type == kPropEnd) {
            if (length != 0) return kBadProperty;
            *after = at;
            return kNoReason;
        }
        const uint32_t fixed = PropertyLength(type);
        if (fixed != 0 && length != fixed) return kBadProperty;
        if (type == kPropColormap && (length < 4 || Be32(xcf.data + at) > 256 ||
                                      length != 4 + 3 * Be32(xcf.data + at))) {
            return kBadProperty;
        }
        if (type == kPropCompression && xcf.data[at] != xcf.compression) return kBadProperty;
        at += length;
    }
}

// The pointer at at: an offset at least least and inside the item.
bool ReadPointer(const Xcf& xcf, uint64_t at, uint64_t least, uint64_t* value, bool zero = false) {
    if (at > xcf.end || xcf.end - at < xcf.pointer) return false;
    *value = xcf.pointer == 8 ? Be64(xcf.data + at) : Be32(xcf.data + at);
    return (zero && *value == 0) || (*value >= least && *value < xcf.end);
}

// One RLE plane of count pixels from at, within limit.
bool PlaneFits(const Xcf& xcf, uint64_t* at, uint64_t count, uint64_t limit) {
    const uint8_t* d = xcf.data;
    while (count > 0) {
        if (*at >= limit) return false;
        const uint32_t n = d[*at];
        uint64_t length;
        const bool literal = n >= 128;
        if (n == 127 || n == 128) {
            if (limit - *at < 3) return false;
            length = Be16(d + *at + 1);
            *at += 3;
        } else {
            length = literal ? 256 - n : n + 1;
            *at += 1;
        }
        if (length == 0 || length > count) return false;
        const uint64_t stored = literal ? length : 1;
        if (stored > limit - *at) return false;
        *at += stored;
        count -= length;
    }
    return true;
}

// A hierarchy at at, of a drawable of width x height pixels of bpp bytes:
// its level pointers, the first level's tile pointers in order, each tile
// within the space before the next.
PictureReason HierarchyHolds(Xcf& xcf, uint64_t at, uint32_t width, uint32_t height, uint32_t bpp) {
    const uint8_t* d = xcf.data;
    if (xcf.end - at < 12) return kBadHierarchy;
    if (Be32(d + at) != width || Be32(d + at + 4) != height || Be32(d + at + 8) != bpp) return kBadHierarchy;
    uint64_t level = 0;
    if (!ReadPointer(xcf, at + 12, at + 12, &level)) return kBadPointer;
    if (xcf.end - level < 8 || Be32(d + level) != width || Be32(d + level + 4) != height) return kBadHierarchy;
    const uint64_t across = (width + kXcfTile - 1) / kXcfTile, tiles = across * ((height + kXcfTile - 1) / kXcfTile);
    const uint64_t table = level + 8;
    if (tiles + 1 > (xcf.end - table) / xcf.pointer) return kBadPointer;
    const uint64_t first_tile = table + (tiles + 1) * xcf.pointer;
    uint64_t tile = 0, next = 0;
    if (!ReadPointer(xcf, table, first_tile, &tile)) return kBadPointer;
    for (uint64_t i = 0; i < tiles; ++i, tile = next) {
        const bool last = i + 1 == tiles;
        if (last ? !ReadPointer(xcf, table + (i + 1) * xcf.pointer, 0, &next, true) || next != 0
                 : !ReadPointer(xcf, table + (i + 1) * xcf.pointer, tile + 1, &next)) {
            return kBadPointer;
        }
        const uint64_t limit = last ? xcf.end : next;
        const uint64_t column = i % across, row = i / across;
        const uint64_t w = std::min<uint64_t>(kXcfTile, width - column * kXcfTile);
        const uint64_t h = std::min<uint64_t>(kXcfTile, height - row * kXcfTile);
        uint64_t pos = tile;
        if (xcf.compression == 0) {
            if (w * h * bpp > limit - tile) return kBadTile;
        } else {
            for (uint32_t plane = 0; plane < bpp; ++plane) {
                if (!PlaneFits(xcf, &pos, w * h, limit)) return kBadTile;
            }
        }
    }
    return kNoReason;
}

// A string: its length with the NUL, then the bytes, the last one NUL.
bool StringFits(const Xcf& xcf, uint64_t* at) {
    if (xcf.end - *at < 4) return false;
    const uint64_t length = Be32(xcf.data + *at);
    *at += 4;
    if (length > xcf.end - *at || (length > 0 && xcf.data[*at + length - 1] != 0)) return false;
    *at += length;
    return true;
}

// A channel or layer mask at at, of the given size: name, properties, and
// a hierarchy behind them of one channel.
PictureReason ChannelHolds(Xcf& xcf, uint64_t at, uint32_t width, uint32_t height) {
    if (xcf.end - at < 8 || Be32(xcf.data + at) != width || Be32(xcf.data + at + 4) != height) {
        return kBadLayer;
    }
    uint64_t pos = at + 8, hierarchy = 0;
    if (!StringFits(xcf, &pos)) return kBadLayer;
    const PictureReason props = Properties(xcf, pos, &pos);
    if (props != kNoReason) return props;
    if (!ReadPointer(xcf, pos, pos + xcf.pointer, &hierarchy)) return kBadPointer;
    return HierarchyHolds(xcf, hierarchy, width, height, xcf.component);
}

// A layer at at: its size, a type of the image's base type, name,
// properties, the hierarchy (bytes per pixel by type and precision) and
// the mask behind it.
PictureReason LayerHolds(Xcf& xcf, uint64_t at) {
    const uint8_t* d = xcf.data;
    if (xcf.end - at < 12) return kBadLayer;
    const uint32_t width = Be32(d + at), height = Be32(d + at + 4), type = Be32(d + at + 8);
    if (width < 1 || width > kXcfMaxSide || height < 1 || height > kXcfMaxSide || type > 5 || type / 2 != xcf.base) {
        return kBadLayer;
    }
    uint64_t pos = at + 12, hierarchy = 0, mask = 0;
    if (!StringFits(xcf, &pos)) return kBadLayer;
    const PictureReason props = Properties(xcf, pos, &pos);
    if (props != kNoReason) return props;
    const uint64_t data = pos + 2 * xcf.pointer;
    if (!ReadPointer(xcf, pos, data, &hierarchy) || !ReadPointer(xcf, pos + xcf.pointer, hierarchy + 1, &mask, true)) {
        return kBadPointer;
    }
    // RGB, gray, indexed: 3, 1, 1 channels, and alpha.
    const uint32_t channels = (type / 2 == 0 ? 3 : 1) + type % 2;
    const PictureReason pixels = HierarchyHolds(xcf, hierarchy, width, height, channels * xcf.component);
    if (pixels != kNoReason || mask == 0) return pixels;
    return ChannelHolds(xcf, mask, width, height);
}

// Bytes per channel by version and precision.
uint32_t ComponentBytes(uint32_t version, uint32_t precision) {
    if (version < 4) return 1;
    if (version == 4) {
        const uint32_t kOld[5] = {1, 2, 4, 2, 4};
        return precision < 5 ? kOld[precision] : 0;
    }
    if (precision % 25 != 0 || precision < 100 || precision >= 800) return 0;
    const uint32_t kind = precision / 100;  // 1 u8, 2 u16, 3 u32, 4-5 half, 6 float, 7 double
    const uint32_t kBytes[8] = {0, 1, 2, 4, 2, 4, 4, 8};
    if (version <= 6) return kind <= 5 ? kBytes[kind] : 0;
    return kind == 4 ? 0 : kind == 5 ? 2 : kBytes[kind];
}

CheckResult CheckXcf(CheckBytes bytes) {
    const uint8_t* d = bytes.data;
    if (bytes.size < 30) return CheckInvalid(kCutShort);
    if (std::memcmp(d, "gimp xcf ", 9) != 0 || d[13] != 0) return CheckInvalid(kBadHeader);
    uint32_t version = 0;
    if (std::memcmp(d + 9, "file", 4) != 0) {
        if (d[9] != 'v' || !IsDigit(d[10]) || !IsDigit(d[11]) || !IsDigit(d[12])) return CheckInvalid(kBadVersion);
        version = (d[10] - '0') * 100u + (d[11] - '0') * 10u + (d[12] - '0');
        if (version == 0) return CheckInvalid(kBadVersion);
        if (version > kLatestXcf) return CheckUnknown(kBadVersion);
    }
    const uint32_t width = Be32(d + 14), height = Be32(d + 18), base = Be32(d + 22);
    if (width < 1 || width > kXcfMaxSide || height < 1 || height > kXcfMaxSide || base > 2) {
        return CheckInvalid(kBadHeader);
    }
    const uint32_t component = ComponentBytes(version, version >= 4 ? Be32(d + 26) : 0);
    if (component == 0) return CheckInvalid(kBadHeader);
    Xcf xcf{d, bytes.size, version >= 11 ? 8u : 4u, base, component, 0};
    uint64_t at = version >= 4 ? 30 : 26;
    // The compression property, wherever it stands among the image's.
    for (uint64_t p = at; bytes.size - p >= 8;) {
        const uint32_t type = Be32(d + p), length = Be32(d + p + 4);
        if (type == kPropEnd || length > bytes.size - p - 8) break;
        if (type == kPropCompression && length == 1) xcf.compression = d[p + 8];
        p += 8 + uint64_t{length};
    }
    // zlib and fractal tiles have no length: formathound finds no end.
    if (xcf.compression > 1) return CheckUnknown(kUnknownCompression);
    xcf.end = WalkEnd(bytes);
    if (xcf.end == 0) return CheckInvalid(kNoEnd);
    const PictureReason props = Properties(xcf, at, &at);
    if (props != kNoReason) return CheckInvalid(props);
    // The layer and channel pointer lists, each ended by 0; what they point
    // at lies behind both and in the order of the lists.
    std::vector<uint64_t> lists[2];
    uint64_t list_end = at;
    for (auto& list : lists) {
        for (uint64_t item = 0;; list_end += xcf.pointer) {
            if (!ReadPointer(xcf, list_end, 0, &item, true)) return CheckInvalid(kBadPointer);
            if (item == 0) break;
            list.push_back(item);
        }
        list_end += xcf.pointer;
    }
    uint64_t previous = list_end - 1;
    for (int i = 0; i < 2; ++i) {
        for (uint64_t item : lists[i]) {
            if (item <= previous) return CheckInvalid(kBadPointer);
            previous = item;
            const PictureReason reason = i == 0 ? LayerHolds(xcf, item) : ChannelHolds(xcf, item, width, height);
            if (reason != kNoReason) return CheckInvalid(reason);
        }
    }
    return CheckValid(xcf.end);
}

}  // namespace

extern const Checker kNetpbmChecker = {CheckNetpbm, kReasons, std::size(kReasons), nullptr};
extern const Checker kTgaChecker = {CheckTga, kReasons, std::size(kReasons), nullptr};
extern const Checker kPsdChecker = {CheckPsd, kReasons, std::size(kReasons), nullptr};
extern const Checker kIcoChecker = {CheckIco, kReasons, std::size(kReasons), nullptr};
extern const Checker kXcfChecker = {CheckXcf, kReasons, std::size(kReasons), nullptr};
