// RIFF checker (WAV, WebP, AVI and other forms): the chunk walk must fill the
// RIFF size exactly, with form-specific chunks where hound knows the form.
// The item ends after the RIFF chunk (and its pad byte, when present).
#include <cstring>
#include <iterator>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum RiffReason : uint8_t {
    kNoReason,
    kCutShort,
    kBadFormType,
    kBadSize,
    kBadChunk,
    kBadChunkId,
    kChunkPastTheEnd,
    kNoVP8Chunk,
    kNoDataChunk,
    kBadFmtChunk,
    kDataBeforeFmt,
    kReasonCount,
};

bool IsIdByte(uint8_t c) { return c >= 0x20 && c < 0x7F; }

bool IsId(const uint8_t* p) { return IsIdByte(p[0]) && IsIdByte(p[1]) && IsIdByte(p[2]) && IsIdByte(p[3]); }

// A WAVE form needs a sane "fmt " chunk before its "data" chunk.
RiffReason CheckWave(const uint8_t* chunk, uint32_t size, bool* fmt_seen, bool* data_seen) {
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
        if (size < 16) return kBadFmtChunk;
        const uint8_t* f = chunk + 8;
        const uint32_t channels = Le16(f + 2), rate = Le32(f + 4), align = Le16(f + 12);
        if (channels == 0 || rate == 0 || align == 0) return kBadFmtChunk;
        *fmt_seen = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
        if (!*fmt_seen) return kDataBeforeFmt;
        *data_seen = true;
    }
    return kNoReason;
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "cut short",
    "bad form type",
    "bad size",
    "bad chunk",
    "bad chunk id",
    "chunk past the end",
    "no VP8 chunk",
    "no data chunk",
    "bad fmt chunk",
    "data before fmt",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckRiff(CheckBytes bytes) {
    if (bytes.size < 12) return CheckInvalid(kCutShort);
    const uint8_t* p = bytes.data;
    const uint64_t end = 8 + uint64_t{Le32(p + 4)};
    if (!IsId(p + 8)) return CheckInvalid(kBadFormType);
    if (end < 12) return CheckInvalid(kBadSize);
    if (end > bytes.size) return CheckInvalid(kCutShort);
    const bool wave = std::memcmp(p + 8, "WAVE", 4) == 0;
    const bool webp = std::memcmp(p + 8, "WEBP", 4) == 0;
    bool fmt_seen = false, data_seen = false;
    uint64_t at = 12;
    while (at < end) {
        if (end - at < 8) return CheckInvalid(kBadChunk);
        const uint8_t* chunk = p + at;
        const uint32_t size = Le32(chunk + 4);
        if (!IsId(chunk)) return CheckInvalid(kBadChunkId);
        if (size > end - at - 8) return CheckInvalid(kChunkPastTheEnd);
        if (webp && at == 12 && std::memcmp(chunk, "VP8", 3) != 0) {
            return CheckInvalid(kNoVP8Chunk);
        }
        if (wave) {
            if (const RiffReason reason = CheckWave(chunk, size, &fmt_seen, &data_seen)) {
                return CheckInvalid(reason);
            }
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
    if (wave && !data_seen) return CheckInvalid(kNoDataChunk);
    // A pad byte after an odd-sized form belongs to the item when it is zero.
    const uint64_t padded = end + (end & 1);
    return CheckValid(padded <= bytes.size && (end & 1) && p[end] == 0 ? padded : end);
}

extern const Checker kRiffChecker = {CheckRiff, kReasons, std::size(kReasons), nullptr};
