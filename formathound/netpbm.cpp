// Netpbm images: P1-P6 (bitmap, graymap, pixmap; plain text or binary) and
// P7 (PAM). A header of decimal fields between whitespace and comments:
// width, height and, but for bitmaps, the largest sample value; then the
// raster. A binary raster follows one whitespace byte and has an exact size;
// its samples may not exceed the largest value, which is checked wherever a
// sample can. A plain raster is text: exactly width times height samples (3
// per pixel in P3), each no larger than the largest value; the item ends
// behind the last sample and the line break that ends it, if any.
//
// A PAM header is lines of WIDTH, HEIGHT, DEPTH, MAXVAL (once each) and
// TUPLTYPE, up to ENDHDR; its raster has an exact size too.
//
// A file may hold several images back to back: while another header of the
// same kind follows at once and its raster is whole, the item grows over it.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kChunk = 4096;
// The most header bytes read, comments included, and the most digits of a
// number; the largest width or height.
constexpr uint64_t kMaxHeader = 16384;
constexpr uint32_t kMaxDigits = 10;
constexpr uint32_t kMaxSide = uint32_t{1} << 24;

// Single bytes through the Source, a chunk at a time: one step per chunk.
class Bytes {
public:
    explicit Bytes(Source& source) : source_(source) {}
    // The byte at offset at, or -1 past the data (or the step budget).
    int At(uint64_t at) {
        if (chunk_ == nullptr || at < start_ || at >= start_ + count_) {
            const uint64_t left = at < source_.size() ? source_.size() - at : 0;
            count_ = left < kChunk ? static_cast<uint32_t>(left) : kChunk;
            chunk_ = count_ > 0 && source_.Step() ? source_.Peek(at, count_) : nullptr;
            if (chunk_ == nullptr) return -1;
            start_ = at;
        }
        return chunk_[at - start_];
    }

private:
    Source& source_;
    const uint8_t* chunk_ = nullptr;
    uint64_t start_ = 0;
    uint32_t count_ = 0;
};

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Whitespace and comments (from '#' to the line's end) from at on, within
// limit; false when there are none.
bool SkipSpace(Bytes& bytes, uint64_t* at, uint64_t limit) {
    const uint64_t from = *at;
    for (int c; *at < limit && (c = bytes.At(*at)) >= 0; ++*at) {
        if (c == '#') {
            while (*at < limit && (c = bytes.At(*at)) >= 0 && c != '\n' && c != '\r') ++*at;
            if (*at >= limit || c < 0) return false;
        } else if (!IsSpace(c)) {
            break;
        }
    }
    return *at > from;
}

// A decimal number from least to max at at; moves at behind its digits.
bool ReadNumber(Bytes& bytes, uint64_t* at, uint32_t least, uint32_t max, uint32_t* value) {
    uint64_t number = 0;
    uint32_t digits = 0;
    for (int c; IsDigit(c = bytes.At(*at)); ++*at) {
        if (++digits > kMaxDigits) return false;
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    if (digits == 0 || number < least || number > max) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

struct Image {
    char kind;          // '1' to '7'
    uint32_t width, height, maxval, depth;  // samples per pixel
    uint64_t raster;    // offset of the raster
};

// The header of a P1-P6 image at start; at the raster, for binary kinds
// behind the one whitespace byte that ends the header.
bool ReadHeader(Bytes& bytes, uint64_t start, Image* image) {
    const uint64_t limit = start + kMaxHeader;
    const char kind = static_cast<char>(bytes.At(start + 1));
    const bool bitmap = kind == '1' || kind == '4';
    uint32_t fields[3] = {0, 0, 1};
    uint64_t at = start + 2;
    for (uint32_t i = 0; i < (bitmap ? 2u : 3u); ++i) {
        if (!SkipSpace(bytes, &at, limit) || !ReadNumber(bytes, &at, 1, i < 2 ? kMaxSide : 65535, &fields[i])) {
            return false;
        }
    }
    if (!IsSpace(bytes.At(at))) return false;
    const bool plain = kind <= '3';
    *image = {kind, fields[0], fields[1], fields[2], kind == '3' || kind == '6' ? 3u : 1u, plain ? at : at + 1};
    return true;
}

// The PAM header at start ("P7\n" read); lines of a keyword and its value.
bool ReadPamHeader(Bytes& bytes, uint64_t start, Image* image) {
    const uint64_t limit = start + kMaxHeader;
    uint32_t values[4] = {0, 0, 0, 0};  // WIDTH, HEIGHT, DEPTH, MAXVAL
    const char* const kNames[4] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
    const uint32_t kMax[4] = {kMaxSide, kMaxSide, 256, 65535};
    for (uint64_t at = start + 3; at < limit;) {
        SkipSpace(bytes, &at, limit);
        char word[9] = {};
        uint32_t length = 0;
        for (int c; (c = bytes.At(at)) >= 'A' && c <= 'Z'; ++at) {
            if (length == 8) return false;
            word[length++] = static_cast<char>(c);
        }
        const int c = bytes.At(at);
        if (std::strcmp(word, "ENDHDR") == 0) {
            if (c != '\n' || values[0] == 0 || values[1] == 0 || values[2] == 0 || values[3] == 0) return false;
            *image = {'7', values[0], values[1], values[3], values[2], at + 1};
            return true;
        }
        if (c != ' ' && c != '\t') return false;
        if (std::strcmp(word, "TUPLTYPE") == 0) {
            // Any printable text to the line's end.
            for (int t; (t = bytes.At(at)) != '\n'; ++at) {
                if (at >= limit || t < 0x20 || t > 0x7E) return false;
            }
            continue;
        }
        uint32_t field = 0;
        while (field < 4 && std::strcmp(word, kNames[field]) != 0) ++field;
        if (field == 4 || values[field] != 0) return false;
        while (bytes.At(at) == ' ' || bytes.At(at) == '\t') ++at;
        if (!ReadNumber(bytes, &at, 1, kMax[field], &values[field])) return false;
        while (bytes.At(at) == ' ' || bytes.At(at) == '\t') ++at;
        if (bytes.At(at) != '\n') return false;
    }
    return false;
}

// A binary raster: its exact size, and its samples no larger than the
// largest value where that is below what the sample's bytes can hold.
bool BinaryRaster(Source& source, Bytes& bytes, const Image& image, uint64_t* end) {
    const uint64_t wide = image.maxval > 255 ? 2 : 1;
    const uint64_t row = image.kind == '4' ? (uint64_t{image.width} + 7) / 8
                                           : uint64_t{image.width} * image.depth * wide;
    const uint64_t size = row * image.height;
    if (image.raster > source.size() || size > source.size() - image.raster) return false;
    *end = image.raster + size;
    if (image.kind == '4' || image.maxval == 255 || image.maxval == 65535) return true;
    for (uint64_t at = image.raster; at < *end; at += wide) {
        const int high = bytes.At(at), low = wide == 2 ? bytes.At(at + 1) : 0;
        if (high < 0 || low < 0) return false;
        if ((wide == 2 ? static_cast<uint32_t>(high) << 8 | static_cast<uint32_t>(low)
                       : static_cast<uint32_t>(high)) > image.maxval) {
            return false;
        }
    }
    return true;
}

// A plain raster: exactly its samples, between whitespace (P1's digits may
// touch), and the line break behind the last one.
bool PlainRaster(Bytes& bytes, const Image& image, uint64_t* end) {
    const uint64_t samples = uint64_t{image.width} * image.height * image.depth;
    uint64_t at = image.raster;
    for (uint64_t n = 0; n < samples; ++n) {
        const uint64_t before = at;
        while (IsSpace(bytes.At(at))) ++at;
        uint32_t value = 0;
        if (image.kind == '1') {
            const int c = bytes.At(at++);
            if (c != '0' && c != '1') return false;
        } else if (at == before || !ReadNumber(bytes, &at, 0, image.maxval, &value)) {
            return false;
        }
    }
    // Spaces up to a line break belong to the last line.
    uint64_t tail = at;
    while (tail - at < 64 && (bytes.At(tail) == ' ' || bytes.At(tail) == '\t' || bytes.At(tail) == '\r')) ++tail;
    *end = bytes.At(tail) == '\n' ? tail + 1 : at;
    return true;
}

// One image of kind at start: its header and raster; sets end behind it.
bool ImageHolds(Source& source, Bytes& bytes, uint64_t start, char kind, uint64_t* end) {
    const int space = bytes.At(start + 2);
    if (bytes.At(start) != 'P' || bytes.At(start + 1) != kind || !(kind == '7' ? space == '\n' : IsSpace(space))) {
        return false;
    }
    Image image;
    if (kind == '7' ? !ReadPamHeader(bytes, start, &image) : !ReadHeader(bytes, start, &image)) return false;
    return kind <= '3' ? PlainRaster(bytes, image, end) : BinaryRaster(source, bytes, image, end);
}

}  // namespace

bool WalkNetpbm(Source& source, Found* found) {
    Bytes bytes(source);
    const int kind = bytes.At(1);
    if (kind < '1' || kind > '7') return false;
    uint64_t end = 0;
    if (!ImageHolds(source, bytes, 0, static_cast<char>(kind), &end)) return false;
    for (uint64_t next = 0; end < source.size() && ImageHolds(source, bytes, end, static_cast<char>(kind), &next);) {
        end = next;
    }
    switch (kind) {
        case '1': case '4': *found = {end, "pbm", "Netpbm bitmap"}; break;
        case '2': case '5': *found = {end, "pgm", "Netpbm graymap"}; break;
        case '3': case '6': *found = {end, "ppm", "Netpbm pixmap"}; break;
        default: *found = {end, "pam", "Netpbm PAM image"}; break;
    }
    return true;
}

}  // namespace formathound
