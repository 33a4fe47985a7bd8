// RIFF checker (WAV, WebP, AVI and other forms): the chunk walk must fill the
// RIFF size exactly, with form-specific chunks where hound knows the form.
// The item ends after the RIFF chunk (and its pad byte, when present); an
// AVI goes on through the "AVIX" RIFF chunks that directly follow it
// (OpenDML files over 1 GiB), and libavformat's avi demuxer then reads its
// headers and every packet from those bytes.
#include <cstring>
#include <iterator>

#include "host/check/check.h"
#include "host/check/demux.h"

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
    kFirstDemuxReason,
    kReasonCount = kFirstDemuxReason + kDemuxReasonCount,
};

bool IsIdByte(uint8_t c) { return c >= 0x20 && c < 0x7F; }

bool IsId(const uint8_t* p) { return IsIdByte(p[0]) && IsIdByte(p[1]) && IsIdByte(p[2]) && IsIdByte(p[3]); }

// A WAVE form needs a sane "fmt " chunk before its "data" chunk.
RiffReason CheckWave(const uint8_t* chunk, uint32_t size, bool* fmt_seen, bool* data_seen) {
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
        if (size < 16) return kBadFmtChunk;
        const uint8_t* f = chunk + 8;
        // Format tag 0 is "unknown": no player can decode such data.
        const uint32_t tag = Le16(f), channels = Le16(f + 2), rate = Le32(f + 4), align = Le16(f + 12);
        if (tag == 0 || channels == 0 || rate == 0 || align == 0) return kBadFmtChunk;
        *fmt_seen = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
        if (!*fmt_seen) return kDataBeforeFmt;
        *data_seen = true;
    }
    return kNoReason;
}

// The chunks of the RIFF chunk at riff, whose form ends at end (counted from
// riff), fill it exactly; WAVE and WEBP forms hold their own chunks.
RiffReason WalkForm(const uint8_t* riff, uint64_t end) {
    const bool wave = std::memcmp(riff + 8, "WAVE", 4) == 0;
    const bool webp = std::memcmp(riff + 8, "WEBP", 4) == 0;
    bool fmt_seen = false, data_seen = false;
    uint64_t at = 12;
    while (at < end) {
        if (end - at < 8) return kBadChunk;
        const uint8_t* chunk = riff + at;
        const uint32_t size = Le32(chunk + 4);
        if (!IsId(chunk)) return kBadChunkId;
        if (size > end - at - 8) return kChunkPastTheEnd;
        if (webp && at == 12 && std::memcmp(chunk, "VP8", 3) != 0) return kNoVP8Chunk;
        if (wave) {
            if (const RiffReason reason = CheckWave(chunk, size, &fmt_seen, &data_seen)) return reason;
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
    return wave && !data_seen ? kNoDataChunk : kNoReason;
}

// The item's end behind a RIFF chunk that ends at end: the pad byte after
// an odd-sized form belongs to the item when it is zero.
uint64_t Padded(CheckBytes bytes, uint64_t end) {
    return (end & 1) && end < bytes.size && bytes.data[end] == 0 ? end + 1 : end;
}

// The end of the AVIX chunk at at, or 0 where none stands there whole.
uint64_t Continuation(CheckBytes bytes, uint64_t at) {
    if (bytes.size - at < 12) return 0;
    const uint8_t* riff = bytes.data + at;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "AVIX", 4) != 0) return 0;
    const uint64_t end = 8 + uint64_t{Le32(riff + 4)};
    if (end < 12 || end > bytes.size - at || WalkForm(riff, end) != kNoReason) return 0;
    return Padded(bytes, at + end);
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
    HOUND_DEMUX_REASONS,
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckRiff(CheckBytes bytes) {
    if (bytes.size < 12) return CheckInvalid(kCutShort);
    const uint8_t* p = bytes.data;
    const uint64_t end = 8 + uint64_t{Le32(p + 4)};
    if (!IsId(p + 8)) return CheckInvalid(kBadFormType);
    if (end < 12) return CheckInvalid(kBadSize);
    if (end > bytes.size) return CheckInvalid(kCutShort);
    if (const RiffReason reason = WalkForm(p, end)) return CheckInvalid(reason);
    uint64_t item_end = Padded(bytes, end);
    if (std::memcmp(p + 8, "AVI ", 4) != 0) return CheckValid(item_end);
    // OpenDML continuations: each whole one extends the item; the first
    // missing, cut short or broken one ends it before itself.
    while (const uint64_t next = Continuation(bytes, item_end)) item_end = next;
    return DemuxResult(Demux(p, item_end, "avi"), kFirstDemuxReason, item_end);
}

extern const Checker kRiffChecker = {CheckRiff, kReasons, std::size(kReasons), nullptr};
