// TAR archives: a run of 512-byte headers, each followed by its entry's data
// rounded up to whole blocks, ended by two zero blocks. Every header holds
// the ustar magic ("ustar\0" "00") or the GNU one ("ustar  \0"), a checksum
// that matches, a known type flag and a size in octal or, for GNU's large
// sizes, base-256. GNU long names ('L', 'K'), pax headers ('x', 'g') and
// old GNU sparse files ('S', with their extension blocks of sparse entries)
// are walked as entries: each one's data size is its size field.
//
// Writers pad the archive to a whole record (20 blocks, 10240 bytes, by
// default) with zeros; the item takes the zero blocks that follow the end
// marker up to the next record boundary from its start, and ends at the
// first block that is not zero or not there, so that a smaller blocking
// factor, or data that ends inside the padding, ends it earlier.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kBlock = 512;
constexpr uint64_t kRecord = 20 * kBlock;
// Header fields: offset and length.
constexpr uint32_t kSize = 124, kSizeLength = 12;
constexpr uint32_t kChecksum = 148, kChecksumLength = 8;
constexpr uint32_t kType = 156, kMagic = 257;
// GNU sparse headers: the flag that extension blocks follow, and the file's
// real size; an extension block holds 21 entries of offset and size.
constexpr uint32_t kSparseEntries = 386, kExtended = 482, kRealSize = 483;
constexpr uint32_t kEntryLength = 24, kHeaderEntries = 4, kExtensionEntries = 21;

// An octal number: leading spaces, digits, then NULs or spaces to the
// field's end; a field of NULs and spaces alone reads as 0.
bool Octal(const uint8_t* field, uint32_t length, uint64_t* value) {
    uint32_t i = 0;
    while (i < length && field[i] == ' ') ++i;
    *value = 0;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) *value = *value << 3 | (field[i] - '0');
    for (; i < length; ++i) {
        if (field[i] != 0 && field[i] != ' ') return false;
    }
    return true;  // at most 12 digits: no overflow
}

// A size: octal, or GNU's base-256 (first byte 0x80, big-endian behind it),
// which must stay below kMaxItemBytes; negative sizes do not exist.
bool Size(const uint8_t* field, uint64_t* value) {
    if (field[0] != 0x80) return Octal(field, kSizeLength, value);
    for (uint32_t i = 1; i < kSizeLength - 5; ++i) {
        if (field[i] != 0) return false;
    }
    *value = 0;
    for (uint32_t i = kSizeLength - 5; i < kSizeLength; ++i) *value = *value << 8 | field[i];
    return true;
}

// The stored checksum equals the sum of the header's bytes with its own
// field taken as spaces, summed as unsigned bytes or, as some old writers
// did, as signed ones.
bool ChecksumHolds(const uint8_t* header) {
    uint64_t stored = 0;
    if (!Octal(header + kChecksum, kChecksumLength, &stored)) return false;
    int64_t sum = 0, signed_sum = 0;
    for (uint32_t i = 0; i < kBlock; ++i) {
        const uint8_t byte = i >= kChecksum && i < kChecksum + kChecksumLength ? ' ' : header[i];
        sum += byte;
        signed_sum += static_cast<int8_t>(byte);
    }
    return static_cast<int64_t>(stored) == sum || static_cast<int64_t>(stored) == signed_sum;
}

bool KnownType(uint8_t type) {
    // Regular (also '\0'), links, devices, directories, FIFOs, contiguous
    // files; 'A'..'Z' for GNU's and other vendors' extensions; pax headers.
    return type == 0 || (type >= '0' && type <= '7') || (type >= 'A' && type <= 'Z') || type == 'x' ||
           type == 'g';
}

// Links, devices, directories and FIFOs store no data, whatever the size
// field says.
bool StoresData(uint8_t type) { return !(type >= '1' && type <= '6'); }

bool IsZeros(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

struct Entry {
    uint8_t type;
    uint64_t data;  // bytes of data behind the header, before rounding
    bool gnu;       // the GNU magic
    bool extended;  // sparse extension blocks follow the header
};

bool ReadHeader(const uint8_t* header, Entry* entry) {
    const uint8_t* magic = header + kMagic;
    entry->gnu = std::memcmp(magic, "ustar  \0", 8) == 0;
    if (!entry->gnu && std::memcmp(magic, "ustar\0" "00", 8) != 0) return false;
    entry->type = header[kType];
    if (header[0] == 0 || !KnownType(entry->type) || !ChecksumHolds(header)) return false;
    if (!Size(header + kSize, &entry->data)) return false;
    if (!StoresData(entry->type)) entry->data = 0;
    entry->extended = false;
    if (entry->type == 'S') {
        uint64_t real = 0, value = 0;
        if (!Octal(header + kRealSize, kSizeLength, &real)) return false;
        for (uint32_t i = 0; i < 2 * kHeaderEntries; ++i) {
            if (!Octal(header + kSparseEntries + i * kSizeLength, kSizeLength, &value)) return false;
        }
        if (header[kExtended] > 1) return false;
        entry->extended = header[kExtended] == 1;
    }
    return true;
}

// The sparse extension blocks from at: entries of octal numbers, each block
// flagging whether another follows. Sets at behind the last.
bool SkipExtensions(Source& source, uint64_t* at) {
    for (bool more = true; more; *at += kBlock) {
        const uint8_t* block = source.size() - *at >= kBlock ? source.Peek(*at, kBlock) : nullptr;
        if (!source.Step() || block == nullptr) return false;
        uint64_t value = 0;
        for (uint32_t i = 0; i < 2 * kExtensionEntries; ++i) {
            if (!Octal(block + i * kSizeLength, kSizeLength, &value)) return false;
        }
        const uint8_t flag = block[kExtensionEntries * kEntryLength];
        if (flag > 1) return false;
        more = flag == 1;
    }
    return true;
}

}  // namespace

bool WalkTar(Source& source, Found* found) {
    uint64_t at = 0;
    bool gnu = false;
    // A long name or pax header applies to the entry behind it: the end
    // marker may not come first.
    bool pending = false;
    for (;;) {
        const uint8_t* block = source.size() - at >= kBlock ? source.Peek(at, kBlock) : nullptr;
        if (!source.Step() || block == nullptr) return false;
        if (IsZeros(block, kBlock)) break;
        Entry entry;
        if (!ReadHeader(block, &entry)) return false;
        if (at == 0) gnu = entry.gnu;
        at += kBlock;
        if (entry.extended && !SkipExtensions(source, &at)) return false;
        const uint64_t rounded = (entry.data + kBlock - 1) / kBlock * kBlock;
        if (rounded > source.size() - at) return false;  // cut short
        at += rounded;
        pending = entry.type == 'L' || entry.type == 'K' || entry.type == 'x';
    }
    if (at == 0 || pending) return false;
    // The second zero block of the end marker.
    const uint8_t* second = source.size() - at >= 2 * kBlock ? source.Peek(at + kBlock, kBlock) : nullptr;
    if (second == nullptr || !IsZeros(second, kBlock)) return false;
    at += 2 * kBlock;
    // The record's padding, block by block while it lasts.
    const uint64_t record_end = (at + kRecord - 1) / kRecord * kRecord;
    while (at < record_end && source.size() - at >= kBlock) {
        const uint8_t* pad = source.Peek(at, kBlock);
        if (!source.Step() || pad == nullptr || !IsZeros(pad, kBlock)) break;
        at += kBlock;
    }
    *found = {at, "tar", gnu ? "GNU tar archive" : "POSIX tar archive"};
    return true;
}

}  // namespace formathound
