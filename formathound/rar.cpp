// RAR archives.
//
// RAR 4 (and back to 1.50): the marker "Rar!\x1A\x07\x00", the archive
// header, then blocks of a 7-byte head (CRC-16 as the low half of the
// CRC-32 of the header from its type on, type, flags, header size), with
// ADD_SIZE bytes of data behind the header when flag 0x8000 is set (for file
// headers the packed size, with its high half when flag 0x0100 is set). The
// item ends behind the end-of-archive block. Archives may lack it (it was
// optional, and RAR 2 wrote none): then the item ends behind the last block
// that holds, which must be a file header or follow one. Archives whose
// headers are encrypted cannot be walked.
//
// RAR 5: the 8-byte signature, then headers of CRC-32, size, type, flags and
// the optional extra and data area sizes, all variable-length integers;
// the main archive header first, the end-of-archive header last, behind
// which the item ends.
#include "formathound/crc.h"
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kMarkerBytes = 7, kSignature5Bytes = 8;
// RAR 4 block types and the flags this walk reads.
constexpr uint8_t kArchiveHeader = 0x73, kFileHeader = 0x74, kComment = 0x75, kSubblock = 0x7A,
                  kEndOfArchive = 0x7B;
constexpr uint32_t kHasAddSize = 0x8000, kLargeFile = 0x0100, kEncryptedHeaders = 0x0080;
constexpr uint32_t kBlockHeadBytes = 7, kArchiveHeaderBytes = 13, kFileHeaderBytes = 32;
// RAR 5 header types and flags.
constexpr uint64_t kMain5 = 1, kEncryption5 = 4, kEnd5 = 5;
constexpr uint64_t kHasExtra5 = 0x0001, kHasData5 = 0x0002;
// A RAR 5 header's size takes at most three bytes.
constexpr uint32_t kMaxHeader5 = (uint32_t{1} << 21) - 1;

// A RAR 4 header's CRC-16 over count bytes from its type on.
bool Crc16Holds(Source& source, uint64_t at, uint32_t count, uint32_t stored) {
    uint32_t crc = 0;
    return ReflectedCrc32Of(source, at + 2, count, &crc) && (crc & 0xFFFF) == stored;
}

// The RAR 4 block at offset at: its head, its CRC-16 and sizes; sets its
// type and end. False for a block that does not hold or does not fit.
bool Block4Holds(Source& source, uint64_t at, uint8_t* type, uint64_t* end) {
    uint8_t h[kFileHeaderBytes + 8] = {};
    if (source.size() - at < kBlockHeadBytes || !source.Read(at, h, kBlockHeadBytes)) return false;
    *type = h[2];
    const uint32_t flags = Le16(h + 3), size = Le16(h + 5);
    if (*type < kFileHeader || *type > kEndOfArchive || *type == kComment || size < kBlockHeadBytes ||
        size > source.size() - at || !source.Read(at, h, size < sizeof(h) ? size : sizeof(h)))
        return false;
    const bool file = *type == kFileHeader || *type == kSubblock;
    if (file && (size < kFileHeaderBytes + ((flags & kLargeFile) ? 8 : 0) || !(flags & kHasAddSize))) return false;
    // Before RAR 3, a file header's CRC left out an old-style comment behind
    // the name.
    uint32_t named = 0;
    if (file) named = ((flags & kLargeFile) ? kFileHeaderBytes + 8 : kFileHeaderBytes) + Le16(h + 26);
    if (named > size) return false;
    if (!Crc16Holds(source, at, size - 2, Le16(h)) && !(named > 0 && Crc16Holds(source, at, named - 2, Le16(h))))
        return false;
    uint64_t add = 0;
    if (flags & kHasAddSize) {
        if (size < kBlockHeadBytes + 4) return false;
        add = Le32(h + 7);
        if (file && (flags & kLargeFile)) add |= uint64_t{Le32(h + 32)} << 32;
    }
    if (add > source.size() - at - size) return false;
    *end = at + size + add;
    return true;
}

bool WalkRar4(Source& source, Found* found) {
    // The archive header; before RAR 3 its CRC left out an old-style
    // comment kept inside it.
    uint8_t h[kArchiveHeaderBytes];
    if (!source.Read(kMarkerBytes, h, kArchiveHeaderBytes) || h[2] != kArchiveHeader) return false;
    const uint32_t flags = Le16(h + 3), size = Le16(h + 5);
    if (size < kArchiveHeaderBytes || (flags & (kEncryptedHeaders | kHasAddSize)) ||
        size > source.size() - kMarkerBytes)
        return false;
    if (!Crc16Holds(source, kMarkerBytes, size - 2, Le16(h)) &&
        !Crc16Holds(source, kMarkerBytes, kArchiveHeaderBytes - 2, Le16(h)))
        return false;
    uint64_t at = kMarkerBytes + size;
    bool file = false;
    for (;;) {
        uint8_t type = 0;
        uint64_t end = 0;
        if (!source.Step() || !Block4Holds(source, at, &type, &end)) break;
        at = end;
        if (type == kEndOfArchive) {
            *found = {at, "rar", "RAR archive"};
            return true;
        }
        file = file || type == kFileHeader;
    }
    if (!file) return false;
    *found = {at, "rar", "RAR archive"};
    return true;
}

// A RAR 5 variable-length integer from bytes[*at] before end: seven bits
// a byte, low first, at most ten bytes.
bool Vint(const uint8_t* bytes, uint32_t* at, uint32_t end, uint64_t* value) {
    *value = 0;
    for (uint32_t i = 0; i < 10 && *at < end; ++i) {
        const uint8_t byte = bytes[(*at)++];
        *value |= uint64_t{byte & 0x7Fu} << (7 * i);
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

bool WalkRar5(Source& source, Found* found) {
    uint64_t at = kSignature5Bytes;
    for (bool first = true;; first = false) {
        // CRC-32, header size, type, flags, extra and data area sizes.
        uint8_t h[4 + 3 + 4 * 10] = {};
        const uint64_t left = source.size() - at;
        if (!source.Step() || left < 7 || !source.Read(at, h, left < sizeof(h) ? left : sizeof(h))) return false;
        uint32_t k = 4;
        uint64_t size = 0, type = 0, flags = 0, extra = 0, data = 0;
        if (!Vint(h, &k, 7, &size) || size < 2 || size > kMaxHeader5 || size > left - k) return false;
        const uint32_t end = static_cast<uint32_t>(k + size);
        const uint32_t fields = end < sizeof(h) ? end : sizeof(h);
        if (!Vint(h, &k, fields, &type) || !Vint(h, &k, fields, &flags)) return false;
        if ((flags & kHasExtra5) && (!Vint(h, &k, fields, &extra) || extra > end - k)) return false;
        if ((flags & kHasData5) && !Vint(h, &k, fields, &data)) return false;
        if (type < kMain5 || type > kEnd5 || (type == kMain5) != first || type == kEncryption5) return false;
        uint32_t crc = 0;
        if (!ReflectedCrc32Of(source, at + 4, end - 4, &crc) || crc != Le32(h)) return false;
        if (data > source.size() - at - end) return false;
        at += end + data;
        if (type == kEnd5) break;
    }
    *found = {at, "rar", "RAR 5 archive"};
    return true;
}

}  // namespace

bool WalkRar(Source& source, Found* found) {
    const uint8_t* p = source.Peek(0, kSignature5Bytes);
    if (p == nullptr || Le32(p) != 0x21726152u || p[4] != 0x1A || p[5] != 0x07) return false;
    if (p[6] == 0x00) return WalkRar4(source, found);
    if (p[6] == 0x01 && p[7] == 0x00) return WalkRar5(source, found);
    return false;
}

}  // namespace formathound
