// CAB checker: the cabinet header's fields checked against each other and
// the cabinet size, and every folder's first data block found within it.
// The item ends at the cabinet size.
#include <iterator>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum CabReason : uint8_t {
    kNoReason,
    kCutShort,
    kReservedFieldSet,
    kUnknownVersion,
    kBadCountsOrFlags,
    kBadFileTableOffset,
    kBadFolder,
    kReasonCount,
};

constexpr uint64_t kHeader = 36;
constexpr uint32_t kReservePresent = 0x0004;
constexpr uint32_t kKnownFlags = 0x0007;

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "cut short",
    "reserved field set",
    "unknown version",
    "bad counts or flags",
    "bad file table offset",
    "bad folder",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckCab(CheckBytes bytes) {
    if (bytes.size < kHeader) return CheckInvalid(kCutShort);
    const uint8_t* p = bytes.data;
    const uint32_t size = Le32(p + 8), files_at = Le32(p + 16);
    const uint32_t folders = Le16(p + 26), files = Le16(p + 28), flags = Le16(p + 30);
    if (Le32(p + 4) != 0 || Le32(p + 12) != 0 || Le32(p + 20) != 0) return CheckInvalid(kReservedFieldSet);
    if (p[24] != 3 || p[25] != 1) return CheckInvalid(kUnknownVersion);
    if (folders == 0 || files == 0 || (flags & ~kKnownFlags) != 0) return CheckInvalid(kBadCountsOrFlags);
    uint64_t at = kHeader;
    uint32_t folder_reserve = 0;
    if (flags & kReservePresent) {
        if (bytes.size < kHeader + 4) return CheckInvalid(kCutShort);
        folder_reserve = p[kHeader + 2];
        at += 4 + uint64_t{Le16(p + kHeader)};
    }
    // The previous and next cabinet names, when flagged, come before the folders.
    for (uint32_t name = 0; name < ((flags & 1) ? 2u : 0u) + ((flags & 2) ? 2u : 0u); ++name) {
        while (at < size && at < bytes.size && p[at] != 0) ++at;
        ++at;
    }
    const uint64_t folder_size = 8 + uint64_t{folder_reserve};
    if (files_at < at + folders * folder_size || files_at >= size) return CheckInvalid(kBadFileTableOffset);
    if (size > bytes.size) return CheckInvalid(kCutShort);
    for (uint32_t i = 0; i < folders; ++i) {
        const uint8_t* folder = p + at + i * folder_size;
        const uint32_t data_at = Le32(folder), blocks = Le16(folder + 4), method = Le16(folder + 6) & 0x000F;
        if (data_at <= files_at || data_at >= size || blocks == 0 || method > 3) {
            return CheckInvalid(kBadFolder);
        }
    }
    return CheckValid(size);
}

extern const Checker kCabChecker = {CheckCab, kReasons, std::size(kReasons), nullptr};
