// ISO base media files (MP4, M4A, MOV, 3GP, HEIF, AVIF, CR3): a chain of
// top-level boxes, each a 32-bit size (1: a 64-bit size follows the type)
// and a four-letter type. The item ends behind the last box of a top-level
// type, or where an ftyp begins the next file; it needs a movie (moov with an mvhd) and media data, or for still
// images a meta box.
#include <cstring>

#include "formathound/iso_boxes.h"
#include "formathound/walks.h"

namespace formathound {

namespace {

struct Brand {
    char name[5];
    const char* extension;
    const char* description;
};

// Major brands, by their first four bytes; prefixes where a family shares them.
constexpr Brand kBrands[] = {
    {"M4A ", "m4a", "MPEG-4 audio"},   {"M4B ", "m4b", "MPEG-4 audio book"},
    {"M4P ", "m4p", "MPEG-4 audio"},   {"M4V ", "m4v", "MPEG-4 video"},
    {"M4VH", "m4v", "MPEG-4 video"},   {"M4VP", "m4v", "MPEG-4 video"},
    {"qt  ", "mov", "QuickTime movie"}, {"3g2a", "3g2", "3GPP2 video"},
    {"3g2b", "3g2", "3GPP2 video"},    {"3g2c", "3g2", "3GPP2 video"},
    {"heic", "heic", "HEIF image"},    {"heix", "heic", "HEIF image"},
    {"heim", "heic", "HEIF image"},    {"heis", "heic", "HEIF image"},
    {"hevc", "heic", "HEIF image sequence"}, {"hevx", "heic", "HEIF image sequence"},
    {"mif1", "heif", "HEIF image"},    {"msf1", "heif", "HEIF image sequence"},
    {"avif", "avif", "AVIF image"},    {"avis", "avif", "AVIF image sequence"},
    {"crx ", "cr3", "Canon CR3 raw image"}, {"f4v ", "f4v", "Flash MP4 video"},
};

void ChooseBrand(const uint8_t* ftyp, uint64_t body, Found* found) {
    found->extension = "mp4";
    found->description = "MPEG-4 video";
    if (body < 4) return;
    if (std::memcmp(ftyp, "3gp", 3) == 0 || std::memcmp(ftyp, "3ge", 3) == 0 ||
        std::memcmp(ftyp, "3gg", 3) == 0) {
        found->extension = "3gp";
        found->description = "3GPP video";
        return;
    }
    for (const Brand& brand : kBrands) {
        if (Is(ftyp, brand.name)) {
            found->extension = brand.extension;
            found->description = brand.description;
            return;
        }
    }
}

// A moov box holds its movie header (or, compressed, a cmov) among its
// first children, each a box that fits inside it.
bool MovieHasHeader(Source& source, uint64_t at, uint64_t size) {
    uint64_t child = at + 8;
    for (int i = 0; i < 8 && child + 8 <= at + size; ++i) {
        const uint8_t* head = source.Peek(child, 8);
        if (head == nullptr) return false;
        const uint32_t child_size = Be32(head);
        if (Is(head + 4, "mvhd") || Is(head + 4, "cmov")) return child_size >= 8 && child_size <= size - (child - at);
        if (child_size < 8 || child_size > at + size - child) return false;
        child += child_size;
    }
    return false;
}

}  // namespace

bool WalkIsoMedia(Source& source, Found* found) {
    bool movie = false, media = false, meta = false, ftyp = false;
    uint64_t at = 0;
    while (at + 8 <= source.size()) {
        if (!source.Step()) return false;
        const uint8_t* head = source.Peek(at, 16 <= source.size() - at ? 16 : 8);
        if (head == nullptr) return false;
        uint8_t type[4];
        std::memcpy(type, head + 4, 4);
        if (!IsTopLevelBox(type)) break;
        uint64_t size = Be32(head);
        uint64_t header = 8;
        if (size == 1) {
            if (source.size() - at < 16) return false;
            size = Be64(head + 8);
            header = 16;
        }
        // Size 0 (to the end of the data) cannot be told from a wiped tail.
        if (size < header) {
            if (at == 0) return false;
            break;
        }
        if (size > source.size() - at) return false;  // cut short
        if (Is(type, "ftyp")) {
            if (at != 0) break;  // the next file's
            if (size < 16 || size > 4096 || (size - 16) % 4 != 0) return false;
            const uint8_t* brand = source.Peek(8, 4);
            if (brand == nullptr) return false;
            ChooseBrand(brand, size - 8, found);
            ftyp = true;
        } else if (Is(type, "moov")) {
            if (!MovieHasHeader(source, at, size)) return false;
            movie = true;
        } else if (Is(type, "mdat")) {
            media = true;
        } else if (Is(type, "meta")) {
            meta = true;
        }
        at += size;
    }
    if (!ftyp) {
        found->extension = "mov";
        found->description = "QuickTime movie";
    }
    // A lone mdat or a moov without data is no playable file; an image
    // (HEIF, AVIF) keeps its items in a meta box, their data in mdat or idat.
    if (!((movie && media) || (ftyp && meta))) return false;
    found->size = at;
    return true;
}

}  // namespace formathound
