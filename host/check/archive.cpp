// Archive checkers (7z, tar, cpio, ISO 9660, RAR, ar and Debian packages)
// with libarchive, from memory: every entry's header is read and its data
// decoded, which checks the archive's structure, its compressed streams and
// the CRCs the format stores (7z's and RAR's per file; tar's header
// checksums). A 7z ends where its start header puts the next header, an ISO
// 9660 image after its volume space; a tar or cpio archive after its end
// entry, and the zeros its tool pads it with to a whole record; a RAR or ar
// archive where formathound's walk ends it. Encrypted entries are checked
// by their headers alone; decoding stops after kMaxRead bytes of entry data.
#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "host/check/check.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum ArchiveReason : uint8_t {
    kNoReason,
    kCutShort,
    kBadHeader,
    kBadEntry,
    kBadEntryData,
    kNoMemory,
    kUnsupported,
    kVolume,
    kNotDebianBinary,
    kBadDebianMembers,
    kBadInnerTar,
    kReasonCount,
};

constexpr uint64_t kMaxRead = uint64_t{256} << 20;
constexpr uint64_t k7zStartHeader = 32;

using ArchivePtr = std::unique_ptr<archive, int (*)(archive*)>;

// What libarchive says of a feature it lacks (a RAR dictionary or filter,
// a compression method): the archive is then not judged.
bool Unsupported(archive* reader) {
    const char* text = archive_error_string(reader);
    return text != nullptr &&
           (std::strstr(text, "nsupported") != nullptr || std::strstr(text, "not supported") != nullptr);
}

// Reads every entry of the archive that enable() lets libarchive read;
// *used gets the bytes libarchive took up to its end entry. With crcs (a
// RAR's files' CRC-32s in order, -1 where none is stored), each regular
// file's data is held against its CRC, which libarchive checks only for
// packed files, and an error of a feature libarchive lacks gives
// kUnsupported.
ArchiveReason ReadAll(CheckBytes bytes, int (*enable)(archive*), uint64_t* used = nullptr,
                      const std::vector<int64_t>* crcs = nullptr) {
    const bool lacking = crcs != nullptr;
    ArchivePtr reader(archive_read_new(), archive_read_free);
    if (!reader) return kNoMemory;
    if (enable(reader.get()) != ARCHIVE_OK ||
        archive_read_open_memory(reader.get(), bytes.data, static_cast<size_t>(bytes.size)) != ARCHIVE_OK) {
        return kBadHeader;
    }
    std::vector<uint8_t> buffer(64 << 10);
    uint64_t read = 0;
    archive_entry* entry = nullptr;
    int status;
    for (size_t index = 0;
         (status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK || status == ARCHIVE_WARN; ++index) {
        if (archive_entry_is_encrypted(entry) || read >= kMaxRead) continue;
        la_ssize_t n;
        uLong crc = crc32(0, nullptr, 0);
        while ((n = archive_read_data(reader.get(), buffer.data(), buffer.size())) > 0) {
            read += static_cast<uint64_t>(n);
            if (crcs != nullptr) crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
            if (read >= kMaxRead) break;
        }
        // libarchive reports a 7z CRC mismatch as a warning.
        if (n < 0) return lacking && Unsupported(reader.get()) ? kUnsupported : kBadEntryData;
        if (crcs != nullptr && n == 0 && index < crcs->size() && (*crcs)[index] >= 0 &&
            archive_entry_filetype(entry) == AE_IFREG && crc != static_cast<uLong>((*crcs)[index])) {
            return kBadEntryData;
        }
    }
    if (status != ARCHIVE_EOF) return lacking && Unsupported(reader.get()) ? kUnsupported : kBadEntry;
    if (used != nullptr) *used = static_cast<uint64_t>(archive_filter_bytes(reader.get(), -1));
    return kNoReason;
}

bool Zeros(const uint8_t* p, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

// The end behind an archive's end entry at used: up to the next multiple of
// record when all zeros lie between, as tar and cpio pad what they write.
uint64_t Padded(CheckBytes bytes, uint64_t used, uint64_t record) {
    const uint64_t boundary = (used + record - 1) / record * record;
    return boundary <= bytes.size && Zeros(bytes.data + used, boundary - used) ? boundary : used;
}

// libarchive allocates what a tar or cpio header claims (a name, a long
// name, a pax header); formathound's walk checks every header's sizes
// against the data first, and libarchive then reads only what it walked.
bool Walked(CheckBytes* bytes) {
    const uint64_t end = WalkEnd(*bytes);
    bytes->size = end;
    return end != 0;
}

CheckResult Result(ArchiveReason reason, uint64_t end) {
    if (reason == kNoReason) return CheckValid(end);
    return reason == kNoMemory || reason == kUnsupported ? CheckUnknown(reason) : CheckInvalid(reason);
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "", "cut short", "bad header", "bad entry", "bad entry data", "no memory",
    "feature libarchive lacks", "volume of a set", "bad debian-binary", "bad package members",
    "bad inner tar",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

// A 7z's start header: the next header's offset and size behind it.
CheckResult Check7z(CheckBytes bytes) {
    if (bytes.size < k7zStartHeader) return CheckInvalid(kCutShort);
    const uint64_t offset = Le64(bytes.data + 12), size = Le64(bytes.data + 20);
    if (offset > bytes.size - k7zStartHeader || size > bytes.size - k7zStartHeader - offset) {
        return CheckInvalid(kCutShort);
    }
    const uint64_t end = k7zStartHeader + offset + size;
    return Result(ReadAll({bytes.data, end}, archive_read_support_format_7zip), end);
}

// Two zero blocks end a tar archive; tar writes records of 20 blocks.
CheckResult CheckTar(CheckBytes bytes) {
    constexpr uint64_t kEndBlocks = 1024, kRecord = 10240;
    if (!Walked(&bytes)) return CheckInvalid(kBadHeader);
    uint64_t used = 0;
    const ArchiveReason reason = ReadAll(bytes, archive_read_support_format_tar, &used);
    if (reason != kNoReason) return Result(reason, 0);
    if (used < kEndBlocks || used > bytes.size || !Zeros(bytes.data + used - kEndBlocks, kEndBlocks)) {
        return CheckInvalid(kCutShort);
    }
    return CheckValid(Padded(bytes, used, kRecord));
}

// cpio pads the archive behind its TRAILER!!! entry to 512 bytes.
CheckResult CheckCpio(CheckBytes bytes) {
    if (!Walked(&bytes)) return CheckInvalid(kBadHeader);
    uint64_t used = 0;
    const ArchiveReason reason = ReadAll(bytes, archive_read_support_format_cpio, &used);
    if (reason != kNoReason) return Result(reason, 0);
    if (used == 0 || used > bytes.size) return CheckInvalid(kCutShort);
    return CheckValid(Padded(bytes, used, 512));
}

// The primary volume descriptor's volume space size, in logical blocks.
CheckResult CheckIso9660(CheckBytes bytes) {
    constexpr uint64_t kDescriptor = 32768;
    if (bytes.size < kDescriptor + 2048) return CheckInvalid(kCutShort);
    const uint8_t* d = bytes.data + kDescriptor;
    const uint64_t end = uint64_t{Le32(d + 80)} * Le16(d + 128);
    if (d[0] != 1 || end < kDescriptor + 2048) return CheckInvalid(kBadHeader);
    if (end > bytes.size) return CheckInvalid(kCutShort);
    return Result(ReadAll({bytes.data, end}, archive_read_support_format_iso9660), end);
}

namespace {

// A RAR 5 variable-length integer at *at: seven bits a byte, low first.
uint64_t Vint(CheckBytes bytes, uint64_t* at) {
    uint64_t value = 0;
    for (uint32_t shift = 0; *at < bytes.size && shift < 64; shift += 7) {
        value |= uint64_t{bytes.data[*at] & 0x7Fu} << shift;
        if ((bytes.data[(*at)++] & 0x80) == 0) break;
    }
    return value;
}

// A RAR 4 archive header's or RAR 5 main header's volume flag: an entry may
// go on in the next volume, which libarchive cannot read. The walk has
// checked the headers.
bool RarVolume(CheckBytes bytes) {
    if (bytes.data[6] == 0) return bytes.size >= 12 && (Le16(bytes.data + 10) & 0x0001) != 0;
    uint64_t at = 12;  // behind the main header's CRC: its size, type and flags
    Vint(bytes, &at);
    Vint(bytes, &at);
    const uint64_t flags = Vint(bytes, &at);
    if (flags & 0x0001) Vint(bytes, &at);  // extra area size
    if (flags & 0x0002) Vint(bytes, &at);  // data area size
    return (Vint(bytes, &at) & 0x0001) != 0;
}

// The CRC-32 that each RAR 4 file header stores, in order. The walk has
// checked the blocks.
std::vector<int64_t> Rar4Crcs(CheckBytes bytes) {
    std::vector<int64_t> crcs;
    for (uint64_t at = 7 + Le16(bytes.data + 12); bytes.size - at >= 11;) {
        const uint8_t* h = bytes.data + at;
        const uint32_t type = h[2], flags = Le16(h + 3), size = Le16(h + 5);
        uint64_t add = (flags & 0x8000) ? Le32(h + 7) : 0;
        if (type == 0x74 && size >= 32) {
            crcs.push_back(Le32(h + 16));
            if (flags & 0x0100 && size >= 40) add |= uint64_t{Le32(h + 32)} << 32;
        }
        if (type == 0x7B || size == 0 || add > bytes.size - at - size) break;
        at += size + add;
    }
    return crcs;
}

// The data CRC-32 that each RAR 5 file header stores (-1: none), in order.
std::vector<int64_t> Rar5Crcs(CheckBytes bytes) {
    std::vector<int64_t> crcs;
    for (uint64_t at = 8; bytes.size - at >= 7;) {
        uint64_t k = at + 4;
        const uint64_t size = Vint(bytes, &k);
        if (size > bytes.size - k) break;
        const uint64_t end = k + size;
        const uint64_t type = Vint(bytes, &k), flags = Vint(bytes, &k);
        if (flags & 0x0001) Vint(bytes, &k);
        const uint64_t data = (flags & 0x0002) ? Vint(bytes, &k) : 0;
        if (type == 2) {
            const uint64_t file_flags = Vint(bytes, &k);
            Vint(bytes, &k);  // unpacked size
            Vint(bytes, &k);  // attributes
            if (file_flags & 0x0002) k += 4;  // modification time
            crcs.push_back((file_flags & 0x0004) && k + 4 <= end ? int64_t{Le32(bytes.data + k)} : -1);
        }
        if (type == 5 || data > bytes.size - end) break;
        at = end + data;
    }
    return crcs;
}

}  // namespace

// RAR 4 and RAR 5: headers and their CRCs by formathound's walk, every file
// decoded by libarchive and held against its CRC.
CheckResult CheckRar(CheckBytes bytes) {
    if (!Walked(&bytes)) return CheckInvalid(kBadHeader);
    if (RarVolume(bytes)) return CheckUnknown(kVolume);
    const bool rar4 = bytes.data[6] == 0;
    const std::vector<int64_t> crcs = rar4 ? Rar4Crcs(bytes) : Rar5Crcs(bytes);
    const auto enable = rar4 ? archive_read_support_format_rar : archive_read_support_format_rar5;
    return Result(ReadAll(bytes, enable, nullptr, &crcs), bytes.size);
}

namespace {

// A Debian package's inner tar is decoded into memory up to this size and
// then walked and read as a tar; a larger one has its compressed stream
// decoded (up to kMaxRead) but its tar headers unread.
constexpr uint64_t kMaxInner = uint64_t{64} << 20;

// An ar member as the walk checked it: its name without the padding and
// GNU's closing '/', and its data.
struct ArMember {
    std::string_view name;
    CheckBytes data;
};

std::vector<ArMember> ArMembers(CheckBytes bytes) {
    std::vector<ArMember> members;
    for (uint64_t at = 8; bytes.size - at >= 60;) {
        const char* header = reinterpret_cast<const char*>(bytes.data + at);
        size_t length = 16;
        while (length > 0 && (header[length - 1] == ' ' || header[length - 1] == '/')) --length;
        uint64_t size = 0;
        for (int i = 48; i < 58 && header[i] >= '0' && header[i] <= '9'; ++i) size = size * 10 + (header[i] - '0');
        members.push_back({{header, length}, {bytes.data + at + 60, size}});
        at += 60 + size + (size & 1);
    }
    return members;
}

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

// "2." and the minor version's digits, then a newline.
bool DebianBinary(CheckBytes data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data), static_cast<size_t>(data.size));
    if (text.size() < 4 || !StartsWith(text, "2.") || text.back() != '\n') return false;
    return text.find_first_not_of("0123456789", 2) == text.size() - 1;
}

// The libarchive filter that a member name's compression suffix names.
bool FilterOf(std::string_view suffix, int* code) {
    static const struct {
        std::string_view suffix;
        int code;
    } kFilters[] = {{"", ARCHIVE_FILTER_NONE}, {".gz", ARCHIVE_FILTER_GZIP},   {".xz", ARCHIVE_FILTER_XZ},
                    {".zst", ARCHIVE_FILTER_ZSTD}, {".bz2", ARCHIVE_FILTER_BZIP2}, {".lzma", ARCHIVE_FILTER_LZMA}};
    for (const auto& filter : kFilters) {
        if (suffix == filter.suffix) {
            *code = filter.code;
            return true;
        }
    }
    return false;
}

// Keeps decoded bytes up to kMaxInner and counts them all.
struct Decoded {
    std::vector<uint8_t> bytes;
    uint64_t count = 0;

    void Add(const uint8_t* data, size_t size) {
        count += size;
        if (count <= kMaxInner) bytes.insert(bytes.end(), data, data + size);
    }
};

// A gzip member decoded by zlib, which checks the CRC-32 and length in its
// trailer (libarchive does not).
bool DecodeGzip(CheckBytes member, Decoded* out) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    std::vector<uint8_t> chunk(64 << 10);
    z.next_in = const_cast<Bytef*>(member.data);
    int status = Z_OK;
    for (uint64_t left = member.size; status == Z_OK && out->count < kMaxRead;) {
        if (z.avail_in == 0) {
            z.avail_in = static_cast<uInt>(left < (uint64_t{1} << 30) ? left : uint64_t{1} << 30);
            left -= z.avail_in;
        }
        z.next_out = chunk.data();
        z.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&z, Z_NO_FLUSH);
        out->Add(chunk.data(), chunk.size() - z.avail_out);
        if (status == Z_BUF_ERROR && z.avail_in == 0 && left == 0) break;
        if (status == Z_BUF_ERROR) status = Z_OK;
    }
    const bool whole = status == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole || (status == Z_OK && out->count >= kMaxRead);
}

// Any other compression, by libarchive's filter, which must be the one
// the member's name gives.
bool DecodeFiltered(CheckBytes member, int expected, Decoded* out) {
    ArchivePtr reader(archive_read_new(), archive_read_free);
    archive_entry* entry = nullptr;
    if (!reader || archive_read_support_filter_all(reader.get()) != ARCHIVE_OK ||
        archive_read_support_format_raw(reader.get()) != ARCHIVE_OK ||
        archive_read_open_memory(reader.get(), member.data, static_cast<size_t>(member.size)) != ARCHIVE_OK ||
        archive_read_next_header(reader.get(), &entry) != ARCHIVE_OK ||
        archive_filter_code(reader.get(), 0) != expected) {
        return false;
    }
    std::vector<uint8_t> chunk(64 << 10);
    la_ssize_t n = 0;
    while (out->count < kMaxRead && (n = archive_read_data(reader.get(), chunk.data(), chunk.size())) > 0) {
        out->Add(chunk.data(), static_cast<size_t>(n));
    }
    return out->count >= kMaxRead || n == 0;
}

// A control.tar* or data.tar* member: compressed as its name says, decoded
// whole, and a tar archive that formathound's walk and libarchive read.
ArchiveReason ReadInnerTar(const ArMember& member, size_t prefix) {
    int expected = 0;
    const std::string_view suffix = member.name.substr(prefix);
    if (!FilterOf(suffix, &expected)) return kBadDebianMembers;
    Decoded tar;
    if (!(suffix == ".gz" ? DecodeGzip(member.data, &tar) : DecodeFiltered(member.data, expected, &tar))) {
        return kBadInnerTar;
    }
    if (tar.count > kMaxInner) return kNoReason;
    CheckBytes walked = {tar.bytes.data(), tar.bytes.size()};
    if (tar.bytes.size() < 262 || std::memcmp(tar.bytes.data() + 257, "ustar", 5) != 0 || !Walked(&walked)) {
        return kBadInnerTar;
    }
    return ReadAll(walked, archive_read_support_format_tar) == kNoReason ? kNoReason : kBadInnerTar;
}

// A Debian package: debian-binary first, then control.tar*, then data.tar*;
// only members whose names start with '_' may stand between or behind.
ArchiveReason CheckDebian(const std::vector<ArMember>& members) {
    if (!DebianBinary(members[0].data)) return kNotDebianBinary;
    int stage = 0;  // 1: control seen, 2: data seen
    for (size_t i = 1; i < members.size(); ++i) {
        const ArMember& member = members[i];
        ArchiveReason reason = kNoReason;
        if (stage == 0 && StartsWith(member.name, "control.tar")) {
            reason = ReadInnerTar(member, 11);
            stage = 1;
        } else if (stage == 1 && StartsWith(member.name, "data.tar")) {
            reason = ReadInnerTar(member, 8);
            stage = 2;
        } else if (!StartsWith(member.name, "_")) {
            return kBadDebianMembers;
        }
        if (reason != kNoReason) return reason;
    }
    return stage == 2 ? kNoReason : kBadDebianMembers;
}

}  // namespace

// ar archives: members by formathound's walk, read by libarchive; a Debian
// package's members checked as dpkg reads them.
CheckResult CheckAr(CheckBytes bytes) {
    if (!Walked(&bytes)) return CheckInvalid(kBadHeader);
    const ArchiveReason reason = ReadAll(bytes, archive_read_support_format_ar);
    if (reason != kNoReason) return Result(reason, 0);
    const std::vector<ArMember> members = ArMembers(bytes);
    if (members.empty() || members[0].name != "debian-binary") return CheckValid(bytes.size);
    return Result(CheckDebian(members), bytes.size);
}

extern const Checker k7zChecker = {Check7z, kReasons, std::size(kReasons), nullptr};
extern const Checker kTarChecker = {CheckTar, kReasons, std::size(kReasons), nullptr};
extern const Checker kCpioChecker = {CheckCpio, kReasons, std::size(kReasons), nullptr};
extern const Checker kIso9660Checker = {CheckIso9660, kReasons, std::size(kReasons), nullptr};
extern const Checker kRarChecker = {CheckRar, kReasons, std::size(kReasons), nullptr};
extern const Checker kArChecker = {CheckAr, kReasons, std::size(kReasons), nullptr};
