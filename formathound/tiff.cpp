// TIFF, BigTIFF and the camera raws built on TIFF (CR2, NEF, ARW, SR2,
// PEF, ORF, RW2, DNG): a header that names the byte order and the offset of
// the first image file directory (IFD); each IFD a count of entries (12
// bytes, or 20 in BigTIFF with 64-bit counts and offsets) and the offset of
// the next. An entry's values stand in its own value field when they fit
// (4 bytes, 8 in BigTIFF), elsewhere at the offset that field holds.
//
// The walk follows the chain from the header, SubIFDs, and the EXIF, GPS
// and interoperability IFDs. Every value stored elsewhere, every strip, tile
// and JPEG stream, and every IFD must lie within the data; the item ends
// behind the highest byte any of them covers, which is all the directories
// prove. Camera raws may keep data that no tag bounds (maker notes point on
// by their own rules), so their descriptions say the end is the one their
// directories name. IFD0 or a SubIFD must hold an image (width, height and
// strips, tiles or a JPEG stream): the IFDs of a JPEG file's EXIF block
// hold none, and chance passes the entry types and offsets only rarely.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

// Entries of one IFD; IFDs of one file (multi-page documents run to
// hundreds); IFDs found and not yet walked. The last kRecent IFD offsets are
// remembered so that a loop rejects at once; a longer one runs into
// kMaxIfds.
constexpr uint64_t kMaxEntries = 4096;
constexpr uint32_t kMaxIfds = 8192;
constexpr uint32_t kMaxPending = 64;
constexpr uint32_t kRecent = 128;
// Strip or tile offsets copied at once (their byte counts are peeked).
constexpr uint32_t kSpanChunk = 128;
constexpr uint64_t kMaxSide = uint64_t{1} << 24;

// Bytes per value of each field type, 0 where none is defined. LONG8,
// SLONG8 and IFD8 (16 to 18) exist in BigTIFF alone.
constexpr uint8_t kTypeBytes[19] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
constexpr uint32_t kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kIfdType = 13, kLong8 = 16, kIfd8 = 18;

// Tags. 2, 3 and 280 are Panasonic's in RW2's IFD0.
constexpr uint32_t kSensorWidth = 2, kSensorHeight = 3, kImageWidth = 256, kImageLength = 257,
                   kCompression = 259, kPhotometric = 262, kMake = 271, kModel = 272,
                   kStripOffsets = 273, kStripByteCounts = 279, kRawDataOffset = 280,
                   kTileOffsets = 324, kTileByteCounts = 325, kSubIfds = 330, kJpegOffset = 513,
                   kJpegLength = 514, kSr2Private = 29184, kExifIfd = 34665, kGpsIfd = 34853,
                   kInteropIfd = 40965, kDngVersion = 50706;

// Photometric interpretations and compressions that only sensor data has:
// colour filter array, linear raw; Sony, Nikon and Pentax raw compression.
constexpr uint32_t kCfa = 32803, kLinearRaw = 34892;
constexpr uint32_t kRawCompressions[] = {32767, 34713, 65535};

// Header magics beside 42 (TIFF) and 43 (BigTIFF).
constexpr uint32_t kTiffMagic = 42, kBigTiffMagic = 43, kOrfMagic = 0x4F52, kOrfMagicS = 0x5352,
                   kRw2Magic = 0x55;

enum class Kind : uint8_t {
    kFirst,  // IFD0
    kChain,  // the IFDs chained behind IFD0: pages, thumbnails
    kSub,    // SubIFDs and their chains: full-size and raw images
    kExif,   // the EXIF IFD, which points at the interoperability IFD
    kLeaf,   // GPS and interoperability IFDs: they point at no IFD
};

struct Pending {
    uint64_t at;
    Kind kind;
};

// An entry's values: their type, count, and offset in the data (the entry's
// own value field when they fit there).
struct Value {
    uint32_t type;
    uint64_t count;
    uint64_t at;
};

// The entries of one IFD that the walk uses; count 0 where absent.
struct Ifd {
    Value width, height, sensor_width, sensor_height, photometric, compression, make, model;
    Value strips, strip_bytes, tiles, tile_bytes, jpeg, jpeg_bytes, raw_data;
    Value sub_ifds, exif, gps, interop;
    bool dng, sr2;
    uint64_t next;
};

struct Walk {
    Source* source;
    bool big_endian, big_tiff;
    uint64_t header;  // bytes of the header: nothing points into it
    uint64_t end;     // behind the highest byte pointed at so far
    Pending pending[kMaxPending];
    uint32_t pending_count;
    uint64_t recent[kRecent];
    uint32_t ifds;  // IFDs walked or pending
    bool image, raw, dng, sr2;
    char make[8], model[8];  // IFD0's, cut, NUL-padded
};

uint64_t Decode(const Walk& walk, const uint8_t* p, uint32_t bytes) {
    switch (bytes) {
        case 1: return p[0];
        case 2: return walk.big_endian ? Be16(p) : Le16(p);
        case 4: return walk.big_endian ? Be32(p) : Le32(p);
        default: return walk.big_endian ? Be64(p) : Le64(p);
    }
}

bool Number(Walk& walk, uint64_t at, uint32_t bytes, uint64_t* value) {
    const uint8_t* p = walk.source->Peek(at, bytes);
    if (p == nullptr) return false;
    *value = Decode(walk, p, bytes);
    return true;
}

void Reach(Walk& walk, uint64_t end) {
    if (end > walk.end) walk.end = end;
}

// The index-th of an entry's values, which must be unsigned integers.
bool Element(Walk& walk, const Value& value, uint64_t index, uint64_t* out) {
    const uint32_t t = value.type;
    if (index >= value.count || !(t == kByte || t == kShort || t == kLong || t == kIfdType || t == kLong8 ||
                                  t == kIfd8)) {
        return false;
    }
    return Number(walk, value.at + index * kTypeBytes[t], kTypeBytes[t], out);
}

// The entry at offset at: a type that exists, and values elsewhere that lie
// within the data behind the header.
bool ReadEntry(Walk& walk, uint64_t at, uint32_t* tag, Value* value) {
    const uint32_t entry_bytes = walk.big_tiff ? 20 : 12, field_bytes = walk.big_tiff ? 8 : 4;
    const uint8_t* p = walk.source->Peek(at, entry_bytes);
    if (p == nullptr) return false;
    *tag = static_cast<uint32_t>(Decode(walk, p, 2));
    value->type = static_cast<uint32_t>(Decode(walk, p + 2, 2));
    value->count = Decode(walk, p + 4, field_bytes);
    const uint64_t size = walk.source->size();
    if (value->type == 0 || value->type > (walk.big_tiff ? 18u : 13u) || kTypeBytes[value->type] == 0 ||
        value->count > size) {
        return false;
    }
    const uint64_t bytes = value->count * kTypeBytes[value->type];
    const uint32_t field = entry_bytes - field_bytes;
    if (bytes <= field_bytes) {
        value->at = at + field;
        return true;
    }
    value->at = Decode(walk, p + field, field_bytes);
    if (value->at < walk.header || value->at > size || bytes > size - value->at) return false;
    Reach(walk, value->at + bytes);
    return true;
}

// The IFD at offset at: its entries, the ones the walk uses kept in ifd.
bool ReadIfd(Walk& walk, uint64_t at, Ifd* ifd) {
    const uint32_t count_bytes = walk.big_tiff ? 8 : 2, entry_bytes = walk.big_tiff ? 20 : 12,
                   next_bytes = walk.big_tiff ? 8 : 4;
    const uint64_t size = walk.source->size();
    uint64_t entries = 0;
    if (!walk.source->Step() || at > size || count_bytes > size - at || !Number(walk, at, count_bytes, &entries) ||
        entries == 0 || entries > kMaxEntries) {
        return false;
    }
    const uint64_t next_at = at + count_bytes + entries * entry_bytes;
    if (next_at > size || next_bytes > size - next_at || !Number(walk, next_at, next_bytes, &ifd->next)) {
        return false;  // cut short
    }
    Reach(walk, next_at + next_bytes);
    for (uint64_t i = 0; i < entries; ++i) {
        uint32_t tag = 0;
        Value value{};
        if (!walk.source->Step() || !ReadEntry(walk, at + count_bytes + i * entry_bytes, &tag, &value)) {
            return false;
        }
        switch (tag) {
            case kSensorWidth: ifd->sensor_width = value; break;
            case kSensorHeight: ifd->sensor_height = value; break;
            case kImageWidth: ifd->width = value; break;
            case kImageLength: ifd->height = value; break;
            case kCompression: ifd->compression = value; break;
            case kPhotometric: ifd->photometric = value; break;
            case kMake: ifd->make = value; break;
            case kModel: ifd->model = value; break;
            case kStripOffsets: ifd->strips = value; break;
            case kStripByteCounts: ifd->strip_bytes = value; break;
            case kRawDataOffset: ifd->raw_data = value; break;
            case kTileOffsets: ifd->tiles = value; break;
            case kTileByteCounts: ifd->tile_bytes = value; break;
            case kSubIfds: ifd->sub_ifds = value; break;
            case kJpegOffset: ifd->jpeg = value; break;
            case kJpegLength: ifd->jpeg_bytes = value; break;
            case kSr2Private: ifd->sr2 = true; break;
            case kExifIfd: ifd->exif = value; break;
            case kGpsIfd: ifd->gps = value; break;
            case kInteropIfd: ifd->interop = value; break;
            case kDngVersion: ifd->dng = true; break;
            default: break;
        }
    }
    return true;
}

// Strips, tiles or a JPEG stream: offsets and as many byte counts, every
// span within the data. A span of 0 bytes is one left out (sparse files).
// Without byte counts (old writers, Panasonic's raw data) only the starts
// are told: each must lie within the data, and no more is proven. Sets data
// when a span holds bytes.
bool SpansHold(Walk& walk, const Value& offsets, const Value& counts, bool* data) {
    if (offsets.count == 0 && counts.count == 0) return true;
    const auto span_type = [](uint32_t t) { return t == kShort || t == kLong || t == kLong8; };
    const bool told = counts.count > 0;
    if (!span_type(offsets.type) || (told && (counts.count != offsets.count || !span_type(counts.type)))) {
        return false;
    }
    const uint32_t offset_bytes = kTypeBytes[offsets.type], count_bytes = told ? kTypeBytes[counts.type] : 0;
    const uint64_t size = walk.source->size();
    uint8_t starts[kSpanChunk * 8];
    for (uint64_t i = 0; i < offsets.count; i += kSpanChunk) {
        const uint32_t n = static_cast<uint32_t>(offsets.count - i < kSpanChunk ? offsets.count - i : kSpanChunk);
        if (!walk.source->Step() || !walk.source->Read(offsets.at + i * offset_bytes, starts, n * offset_bytes)) {
            return false;
        }
        const uint8_t* lengths = told ? walk.source->Peek(counts.at + i * count_bytes, n * count_bytes) : nullptr;
        if (told && lengths == nullptr) return false;
        for (uint32_t j = 0; j < n; ++j) {
            const uint64_t start = Decode(walk, starts + j * offset_bytes, offset_bytes);
            const uint64_t length = told ? Decode(walk, lengths + j * count_bytes, count_bytes) : 0;
            if (told && length == 0) continue;
            if (start < walk.header || start > size || length > size - start) return false;  // cut short
            Reach(walk, start + length);
            if (length > 0) *data = true;
        }
    }
    return true;
}

// Queues the IFD at offset at; false past the bounds, outside the data, or
// where an IFD already walked stands.
bool Push(Walk& walk, uint64_t at, Kind kind) {
    if (walk.ifds == kMaxIfds || walk.pending_count == kMaxPending) return false;
    if (at < walk.header || at >= walk.source->size()) return false;
    const uint32_t remembered = walk.ifds < kRecent ? walk.ifds : kRecent;
    for (uint32_t i = 0; i < remembered; ++i) {
        if (walk.recent[i] == at) return false;
    }
    walk.recent[walk.ifds % kRecent] = at;
    ++walk.ifds;
    walk.pending[walk.pending_count++] = {at, kind};
    return true;
}

// Queues the IFDs an entry points at; offset 0 points at none.
bool Follow(Walk& walk, const Value& value, Kind kind) {
    if (value.count == 0) return true;
    const uint32_t t = value.type;
    if (value.count > kMaxPending || !(t == kLong || t == kIfdType || t == kLong8 || t == kIfd8)) return false;
    for (uint64_t i = 0; i < value.count; ++i) {
        uint64_t at = 0;
        if (!Element(walk, value, i, &at) || (at != 0 && !Push(walk, at, kind))) return false;
    }
    return true;
}

// The first bytes of an ASCII entry, NUL-padded; none for another type.
bool AsciiPrefix(Walk& walk, const Value& value, char (&out)[8]) {
    std::memset(out, 0, sizeof(out));
    if (value.count == 0 || value.type != kAscii) return true;
    const uint32_t n = value.count < sizeof(out) - 1 ? static_cast<uint32_t>(value.count) : sizeof(out) - 1;
    const uint8_t* p = walk.source->Peek(value.at, n);
    if (p == nullptr) return false;
    std::memcpy(out, p, n);
    return true;
}

// A sensor's data: a CFA or linear raw image, or a camera's raw compression.
bool HoldsSensorData(Walk& walk, const Ifd& ifd) {
    uint64_t photometric = 0, compression = 0;
    if (Element(walk, ifd.photometric, 0, &photometric) && (photometric == kCfa || photometric == kLinearRaw)) {
        return true;
    }
    if (!Element(walk, ifd.compression, 0, &compression)) return false;
    for (const uint32_t raw : kRawCompressions) {
        if (compression == raw) return true;
    }
    return false;
}

bool Side(Walk& walk, const Value& value) {
    uint64_t side = 0;
    return Element(walk, value, 0, &side) && side > 0 && side <= kMaxSide;
}

// Walks the IFD at pending.at and queues the IFDs it points at.
bool Visit(Walk& walk, const Pending& pending, bool rw2) {
    Ifd ifd{};
    bool data = false;
    if (!ReadIfd(walk, pending.at, &ifd) || !SpansHold(walk, ifd.strips, ifd.strip_bytes, &data) ||
        !SpansHold(walk, ifd.tiles, ifd.tile_bytes, &data) || !SpansHold(walk, ifd.jpeg, ifd.jpeg_bytes, &data)) {
        return false;
    }
    if (rw2 && pending.kind == Kind::kFirst) {
        // Panasonic's sizes, and raw data whose start alone may be told.
        uint64_t start = 0;
        if (Element(walk, ifd.raw_data, 0, &start)) {
            if (start < walk.header || start > walk.source->size()) return false;
            Reach(walk, start);
        }
        data = data || ifd.raw_data.count > 0 || ifd.strips.count > 0;
        if (ifd.width.count == 0) ifd.width = ifd.sensor_width;
        if (ifd.height.count == 0) ifd.height = ifd.sensor_height;
    }
    const bool image_ifd = pending.kind == Kind::kFirst || pending.kind == Kind::kSub;
    if (image_ifd && data && Side(walk, ifd.width) && Side(walk, ifd.height)) walk.image = true;
    if (pending.kind == Kind::kExif) return Follow(walk, ifd.interop, Kind::kLeaf);
    if (pending.kind == Kind::kLeaf) return true;
    if (HoldsSensorData(walk, ifd)) walk.raw = true;
    if (pending.kind == Kind::kFirst) {
        walk.dng = ifd.dng;
        walk.sr2 = ifd.sr2;
        if (!AsciiPrefix(walk, ifd.make, walk.make) || !AsciiPrefix(walk, ifd.model, walk.model)) return false;
    }
    if (!Follow(walk, ifd.sub_ifds, Kind::kSub) || !Follow(walk, ifd.exif, Kind::kExif) ||
        !Follow(walk, ifd.gps, Kind::kLeaf)) {
        return false;
    }
    return ifd.next == 0 || Push(walk, ifd.next, pending.kind == Kind::kSub ? Kind::kSub : Kind::kChain);
}

bool Starts(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Names by the header, then DNGVersion, then the maker of a sensor's data.
void Name(const Walk& walk, const uint8_t* head, uint32_t magic, Found* found) {
    const bool sony = Starts(walk.make, "SONY");
    if (magic == kTiffMagic && !walk.big_endian && head[8] == 'C' && head[9] == 'R' && head[10] == 2) {
        *found = {walk.end, "cr2", "Canon raw image (end by its directories)"};
    } else if (magic == kOrfMagic || magic == kOrfMagicS) {
        *found = {walk.end, "orf", "Olympus raw image (end by its directories)"};
    } else if (magic == kRw2Magic) {
        *found = {walk.end, "rw2", "Panasonic raw image (end by its directories)"};
    } else if (walk.dng) {
        *found = {walk.end, "dng", "DNG raw image"};
    } else if (walk.raw && Starts(walk.make, "NIKON")) {
        *found = {walk.end, "nef", "Nikon raw image (end by its directories)"};
    } else if ((walk.raw || walk.sr2) && sony && Starts(walk.model, "DSC-R1")) {
        *found = {walk.end, "sr2", "Sony SR2 raw image (end by its directories)"};
    } else if ((walk.raw || walk.sr2) && sony) {
        *found = {walk.end, "arw", "Sony raw image (end by its directories)"};
    } else if (walk.raw && (Starts(walk.make, "PENTAX") || Starts(walk.make, "RICOH"))) {
        *found = {walk.end, "pef", "Pentax raw image (end by its directories)"};
    } else {
        *found = {walk.end, "tif", walk.big_tiff ? "BigTIFF image" : "TIFF image"};
    }
}

}  // namespace

bool WalkTiff(Source& source, Found* found) {
    const uint8_t* p = source.Peek(0, 16);
    if (p == nullptr || p[0] != p[1] || (p[0] != 'I' && p[0] != 'M')) return false;
    uint8_t head[16];
    std::memcpy(head, p, sizeof(head));
    Walk walk{};
    walk.source = &source;
    walk.big_endian = head[0] == 'M';
    walk.header = 8;
    const auto magic = static_cast<uint32_t>(Decode(walk, head + 2, 2));
    uint64_t first = 0;
    if (magic == kBigTiffMagic) {
        // Offsets of 8 bytes, then 2 reserved bytes of 0.
        if (Decode(walk, head + 4, 2) != 8 || Decode(walk, head + 6, 2) != 0) return false;
        walk.big_tiff = true;
        walk.header = 16;
        first = Decode(walk, head + 8, 8);
    } else if (magic == kTiffMagic || magic == kOrfMagic || magic == kOrfMagicS || magic == kRw2Magic) {
        first = Decode(walk, head + 4, 4);
    } else {
        return false;
    }
    if (!Push(walk, first, Kind::kFirst)) return false;
    while (walk.pending_count > 0) {
        const Pending next = walk.pending[--walk.pending_count];
        if (!Visit(walk, next, magic == kRw2Magic)) return false;
    }
    if (!walk.image) return false;
    Name(walk, head, magic, found);
    return true;
}

}  // namespace formathound
