// Archive checkers (7z, tar, cpio, ISO 9660) with libarchive, from memory:
// every entry's header is read and its data decoded, which checks the
// archive's structure, its compressed streams and the CRCs the format
// stores (7z's per file; tar's header checksums). A 7z ends where its start
// header puts the next header, an ISO 9660 image after its volume space; a
// tar or cpio archive after its end entry, and the zeros its tool pads it
// with to a whole record. Encrypted entries are checked by their headers
// alone; decoding stops after kMaxRead bytes of entry data.
#include <archive.h>
#include <archive_entry.h>

#include <iterator>
#include <memory>
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
    kReasonCount,
};

constexpr uint64_t kMaxRead = uint64_t{256} << 20;
constexpr uint64_t k7zStartHeader = 32;

using ArchivePtr = std::unique_ptr<archive, int (*)(archive*)>;

// Reads every entry of the archive that enable() lets libarchive read;
// *used gets the bytes libarchive took up to its end entry.
ArchiveReason ReadAll(CheckBytes bytes, int (*enable)(archive*), uint64_t* used = nullptr) {
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
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK || status == ARCHIVE_WARN) {
        if (archive_entry_is_encrypted(entry) || read >= kMaxRead) continue;
        la_ssize_t n;
        while ((n = archive_read_data(reader.get(), buffer.data(), buffer.size())) > 0) {
            read += static_cast<uint64_t>(n);
            if (read >= kMaxRead) break;
        }
        // libarchive reports a 7z CRC mismatch as a warning.
        if (n < 0) return kBadEntryData;
    }
    if (status != ARCHIVE_EOF) return kBadEntry;
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
    return reason == kNoMemory ? CheckUnknown(reason) : CheckInvalid(reason);
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "", "cut short", "bad header", "bad entry", "bad entry data", "no memory",
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

extern const Checker k7zChecker = {Check7z, kReasons, std::size(kReasons), nullptr};
extern const Checker kTarChecker = {CheckTar, kReasons, std::size(kReasons), nullptr};
extern const Checker kCpioChecker = {CheckCpio, kReasons, std::size(kReasons), nullptr};
extern const Checker kIso9660Checker = {CheckIso9660, kReasons, std::size(kReasons), nullptr};
