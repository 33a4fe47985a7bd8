// BMP checker: the file header and the bitmap header checked against each
// other and against the file size field, which gives the item's end.
#include <iterator>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum BmpReason : uint8_t {
    kNoReason,
    kCutShort,
    kReservedFieldSet,
    kBadHeaderSize,
    kBadDimensions,
    kPlanesNot1,
    kBadBitDepth,
    kBadCompression,
    kBadPixelOffset,
    kSizeTooSmall,
    kReasonCount,
};

constexpr uint64_t kFileHeader = 14;

bool KnownHeaderSize(uint32_t size) {
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 ||
           size == 124;
}

bool KnownDepth(uint32_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "cut short",
    "reserved field set",
    "bad header size",
    "bad dimensions",
    "planes not 1",
    "bad bit depth",
    "bad compression",
    "bad pixel offset",
    "size too small",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckBmp(CheckBytes bytes) {
    if (bytes.size < kFileHeader + 12) return CheckInvalid(kCutShort);
    const uint8_t* p = bytes.data;
    const uint32_t file_size = Le32(p + 2), pixels_at = Le32(p + 10), header = Le32(p + 14);
    if (Le32(p + 6) != 0) return CheckInvalid(kReservedFieldSet);
    if (!KnownHeaderSize(header)) return CheckInvalid(kBadHeaderSize);
    if (bytes.size < kFileHeader + header) return CheckInvalid(kCutShort);
    int64_t width, height;
    uint32_t planes, bits, compression = 0;
    if (header == 12) {
        width = Le16(p + 18);
        height = Le16(p + 20);
        planes = Le16(p + 22);
        bits = Le16(p + 24);
    } else {
        width = static_cast<int32_t>(Le32(p + 18));
        height = static_cast<int32_t>(Le32(p + 22));
        planes = Le16(p + 26);
        bits = Le16(p + 28);
        compression = Le32(p + 30);
    }
    if (height < 0) height = -height;
    if (width <= 0 || height == 0) return CheckInvalid(kBadDimensions);
    if (planes != 1) return CheckInvalid(kPlanesNot1);
    if (compression == 4 || compression == 5) {
        bits = 0;  // embedded JPEG or PNG data: depth field unused
    } else if (!KnownDepth(bits)) {
        return CheckInvalid(kBadBitDepth);
    }
    if (compression > 6) return CheckInvalid(kBadCompression);
    if (pixels_at < kFileHeader + header || pixels_at >= file_size) {
        return CheckInvalid(kBadPixelOffset);
    }
    if (compression == 0 || compression == 3 || compression == 6) {
        const uint64_t row = (uint64_t(width) * bits + 31) / 32 * 4;
        if (pixels_at + row * uint64_t(height) > file_size) return CheckInvalid(kSizeTooSmall);
    }
    if (file_size > bytes.size) return CheckInvalid(kCutShort);
    return CheckValid(file_size);
}

extern const Checker kBmpChecker = {CheckBmp, kReasons, std::size(kReasons), nullptr};
