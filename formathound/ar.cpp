// Unix ar archives: "!<arch>\n", then members of a 60-byte header (name,
// decimal mtime, uid, gid, octal mode, decimal size, "`\n") and the data,
// padded to even with '\n'. GNU's symbol table "/" and name table "//",
// names "/N" into it and BSD's "#1/N" names (the first N data bytes) are
// members like any other. Nothing marks the end: the archive ends where the
// bytes behind a member are not a member header. Bytes that end in "`\n"
// like one but whose fields do not hold are a damaged header, not an end.
//
// A Debian package is an archive whose first member is "debian-binary"
// holding "2.", whose second is control.tar.*, and which has a data.tar.*.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kMagicBytes = 8, kHeaderBytes = 60;
// Header fields: offset and length.
constexpr uint32_t kName = 0, kNameLength = 16;
constexpr uint32_t kMtime = 16, kUid = 28, kGid = 34, kMode = 40, kSize = 48;
constexpr uint32_t kEnd = 58;

// Digits of that base, then spaces to the field's end; blank fields (as
// GNU's name table has) hold when blank is true.
bool Number(const uint8_t* field, uint32_t length, uint32_t base, bool blank, uint64_t* value) {
    uint32_t i = 0;
    *value = 0;
    for (; i < length && field[i] >= '0' && field[i] < '0' + base; ++i) *value = *value * base + (field[i] - '0');
    if (i == 0 && !blank) return false;
    for (; i < length; ++i) {
        if (field[i] != ' ') return false;
    }
    return true;  // at most 12 digits: no overflow
}

struct Member {
    uint64_t size;
    bool debian_binary, control, data;
};

bool NameStarts(const uint8_t* header, const char* text) {
    return std::memcmp(header + kName, text, std::strlen(text)) == 0;
}

// The header's fields; false when any does not hold.
bool ReadMember(const uint8_t* header, Member* member) {
    uint64_t value = 0;
    if (header[kName] == ' ') return false;
    for (uint32_t i = 0; i < kNameLength; ++i) {
        if (header[kName + i] < 0x20 || header[kName + i] == 0x7F) return false;
    }
    if (!Number(header + kMtime, 12, 10, true, &value) || !Number(header + kUid, 6, 10, true, &value) ||
        !Number(header + kGid, 6, 10, true, &value) || !Number(header + kMode, 8, 8, true, &value) ||
        !Number(header + kSize, 10, 10, false, &member->size)) {
        return false;
    }
    // A BSD name's length counts in the data.
    if (NameStarts(header, "#1/")) {
        if (!Number(header + kName + 3, kNameLength - 3, 10, false, &value) || value > member->size) return false;
    }
    member->debian_binary = std::memcmp(header + kName, "debian-binary", 13) == 0 &&
                            (header[kName + 13] == ' ' || header[kName + 13] == '/');
    member->control = NameStarts(header, "control.tar");
    member->data = NameStarts(header, "data.tar");
    return true;
}

}  // namespace

bool WalkAr(Source& source, Found* found) {
    const uint8_t* magic = source.Peek(0, kMagicBytes);
    if (magic == nullptr || std::memcmp(magic, "!<arch>\n", kMagicBytes) != 0) return false;
    uint64_t at = kMagicBytes;
    uint32_t members = 0;
    bool debian = false, has_data = false;
    while (source.size() - at >= kHeaderBytes) {
        const uint8_t* header = source.Peek(at, kHeaderBytes);
        if (!source.Step() || header == nullptr) return false;
        if (header[kEnd] != '`' || header[kEnd + 1] != '\n') break;
        Member member;
        if (!ReadMember(header, &member)) return false;
        const uint64_t data = at + kHeaderBytes;
        if (member.size > source.size() - data) return false;  // cut short
        if (members == 0 && member.debian_binary) {
            const uint8_t* version = member.size >= 2 ? source.Peek(data, 2) : nullptr;
            debian = version != nullptr && version[0] == '2' && version[1] == '.';
        }
        if (members == 1 && !member.control) debian = false;
        has_data = has_data || member.data;
        at = data + member.size;
        if (member.size & 1) {
            const uint8_t* pad = source.Peek(at, 1);
            if (pad == nullptr || *pad != '\n') return false;
            ++at;
        }
        ++members;
    }
    if (members == 0) return false;
    if (debian && has_data) {
        *found = {at, "deb", "Debian package"};
    } else {
        *found = {at, "a", "ar archive"};
    }
    return true;
}

}  // namespace formathound
