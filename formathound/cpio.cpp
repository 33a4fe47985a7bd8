// CPIO archives: entries of a header, the entry's name with its NUL and the
// entry's data, up to the entry named "TRAILER!!!". The newc ("070701") and
// crc ("070702") headers are 13 fields of eight hex digits, with the name
// and the data each padded to a multiple of 4 from the archive's start; the
// crc form's check field is the byte sum of a regular file's data, which
// the walk adds up. The odc header ("070707") is octal, without padding.
//
// Writers pad the archive to their 512-byte blocks with zeros: the item
// takes those zeros when they are all there, up to the next 512-byte
// boundary from its start, and ends behind the trailer otherwise.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kHexHeader = 110, kOdcHeader = 76;
constexpr uint64_t kBlock = 512;
// Names longer than a path may be do not occur.
constexpr uint32_t kMaxName = 4096;
constexpr char kTrailer[] = "TRAILER!!!";  // with its NUL: 11 bytes
constexpr uint32_t kTypeMask = 0170000, kRegular = 0100000;

enum class Form { kNewc, kCrc, kOdc };

struct Entry {
    uint32_t mode;
    uint64_t name;       // offset of the name
    uint32_t name_size;  // with the NUL
    uint64_t data;       // offset of the data
    uint64_t data_size;
    uint32_t check;
    uint64_t next;       // offset of the next header
};

bool Hex(const uint8_t* p, uint32_t* value) {
    *value = 0;
    for (uint32_t i = 0; i < 8; ++i) {
        const uint8_t c = p[i];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return false;
        *value = *value << 4 | digit;
    }
    return true;
}

bool Octal(const uint8_t* p, uint32_t length, uint64_t* value) {
    *value = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (p[i] < '0' || p[i] > '7') return false;
        *value = *value << 3 | (p[i] - '0');
    }
    return true;
}

uint64_t Align4(uint64_t offset) { return (offset + 3) & ~uint64_t{3}; }

// A file type that exists (or none, as the trailer has).
bool KnownType(uint32_t mode) {
    switch (mode & kTypeMask) {
        case 0: case 0010000: case 0020000: case 0040000: case 0060000: case 0100000: case 0120000:
        case 0140000:
            return true;
        default:
            return false;
    }
}

// The header at offset at, in the archive's form; every field must hold
// only digits, and the name and data must fit in the source.
bool ReadEntry(Source& source, Form form, uint64_t at, Entry* entry) {
    const uint32_t header_size = form == Form::kOdc ? kOdcHeader : kHexHeader;
    const uint8_t* p = source.size() - at >= header_size ? source.Peek(at, header_size) : nullptr;
    if (p == nullptr || std::memcmp(p, "07070", 5) != 0) return false;
    if (p[5] != (form == Form::kNewc ? '1' : form == Form::kCrc ? '2' : '7')) return false;
    if (form == Form::kOdc) {
        // dev, ino, mode, uid, gid, nlink, rdev (6 digits each), mtime (11),
        // namesize (6), filesize (11).
        constexpr uint32_t kLengths[10] = {6, 6, 6, 6, 6, 6, 6, 11, 6, 11};
        uint64_t fields[10];
        for (uint32_t i = 0, field = 6; i < 10; field += kLengths[i], ++i) {
            if (!Octal(p + field, kLengths[i], &fields[i])) return false;
        }
        entry->mode = static_cast<uint32_t>(fields[2]);
        entry->name_size = static_cast<uint32_t>(fields[8]);
        entry->data_size = fields[9];
        entry->check = 0;
    } else {
        // ino, mode, uid, gid, nlink, mtime, filesize, dev and rdev major
        // and minor, namesize, check.
        uint32_t fields[13];
        for (uint32_t i = 0; i < 13; ++i) {
            if (!Hex(p + 6 + 8 * i, &fields[i])) return false;
        }
        entry->mode = fields[1];
        entry->data_size = fields[6];
        entry->name_size = fields[11];
        entry->check = fields[12];
        if (form == Form::kNewc && entry->check != 0) return false;
    }
    if (!KnownType(entry->mode) || entry->name_size == 0 || entry->name_size > kMaxName) return false;
    entry->name = at + header_size;
    const uint64_t name_end = entry->name + entry->name_size;
    entry->data = form == Form::kOdc ? name_end : Align4(name_end);
    if (entry->data > source.size() || entry->data_size > source.size() - entry->data) return false;
    entry->next = entry->data + entry->data_size;
    if (form != Form::kOdc) entry->next = Align4(entry->next);
    if (entry->next > source.size()) return false;
    // The name ends with its NUL.
    const uint8_t* last = source.Peek(name_end - 1, 1);
    return last != nullptr && *last == 0;
}

bool IsTrailer(Source& source, const Entry& entry) {
    if (entry.name_size != sizeof(kTrailer)) return false;
    const uint8_t* name = source.Peek(entry.name, sizeof(kTrailer));
    return name != nullptr && std::memcmp(name, kTrailer, sizeof(kTrailer)) == 0;
}

// The crc form's check: the sum of a regular file's data bytes.
bool SumHolds(Source& source, const Entry& entry) {
    if ((entry.mode & kTypeMask) != kRegular) return true;
    uint32_t sum = 0;
    for (uint64_t done = 0; done < entry.data_size;) {
        const uint64_t left = entry.data_size - done;
        const uint32_t part = left < kWindowBytes ? static_cast<uint32_t>(left) : kWindowBytes;
        const uint8_t* bytes = source.Peek(entry.data + done, part);
        if (bytes == nullptr) return false;
        for (uint32_t i = 0; i < part; ++i) sum += bytes[i];
        done += part;
    }
    return sum == entry.check;
}

}  // namespace

bool WalkCpio(Source& source, Found* found) {
    const uint8_t* magic = source.Peek(0, 6);
    if (magic == nullptr) return false;
    const Form form = magic[5] == '1' ? Form::kNewc : magic[5] == '2' ? Form::kCrc : Form::kOdc;
    uint64_t at = 0;
    for (;;) {
        Entry entry;
        if (!source.Step() || !ReadEntry(source, form, at, &entry)) return false;
        if (form == Form::kCrc && !SumHolds(source, entry)) return false;
        at = entry.next;
        if (IsTrailer(source, entry)) break;
    }
    // The block padding, when all of it is there.
    const uint64_t block_end = (at + kBlock - 1) / kBlock * kBlock;
    if (block_end <= source.size()) {
        const uint8_t* pad = source.Peek(at, static_cast<uint32_t>(block_end - at));
        bool zeros = pad != nullptr;
        for (uint64_t i = 0; zeros && i < block_end - at; ++i) zeros = pad[i] == 0;
        if (zeros) at = block_end;
    }
    const char* description = form == Form::kNewc ? "CPIO archive (newc)"
                              : form == Form::kCrc ? "CPIO archive (crc)"
                                                   : "CPIO archive (odc)";
    *found = {at, "cpio", description};
    return true;
}

}  // namespace formathound
