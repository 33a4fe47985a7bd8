// Wave64 checker: the chunks, each a 16-byte GUID and a 64-bit size that
// counts its own 24-byte header, follow the "riff" and "wave" GUIDs and fill
// the 64-bit file size exactly, each padded to 8 bytes but for the last;
// "fmt " must be sane and come before "data". The item ends at the file
// size, beyond 4 GiB too.
#include <cstring>
#include <iterator>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum W64Reason : uint8_t {
    kNoReason,
    kCutShort,
    kBadSize,
    kNoWave,
    kBadChunk,
    kBadFmtChunk,
    kDataBeforeFmt,
    kNoDataChunk,
    kReasonCount,
};

constexpr uint8_t kWave[16] = {'w', 'a', 'v', 'e', 0xF3, 0xAC, 0xD3, 0x11,
                               0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
// "fmt " and "data" share the rest of the wave GUID.
constexpr uint8_t kFmt[4] = {'f', 'm', 't', ' '};
constexpr uint8_t kData[4] = {'d', 'a', 't', 'a'};
constexpr uint64_t kHeader = 40;       // riff GUID, file size, wave GUID
constexpr uint64_t kChunkHeader = 24;  // GUID and size

bool IsWaveChunk(const uint8_t* guid, const uint8_t (&name)[4]) {
    return std::memcmp(guid, name, 4) == 0 && std::memcmp(guid + 4, kWave + 4, 12) == 0;
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "", "cut short", "bad size", "no wave GUID", "bad chunk", "bad fmt chunk", "data before fmt", "no data chunk",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckW64(CheckBytes bytes) {
    if (bytes.size < kHeader) return CheckInvalid(kCutShort);
    const uint8_t* p = bytes.data;
    if (std::memcmp(p + 24, kWave, sizeof kWave) != 0) return CheckInvalid(kNoWave);
    const uint64_t end = Le64(p + 16);
    if (end < kHeader + kChunkHeader) return CheckInvalid(kBadSize);
    if (end > bytes.size) return CheckInvalid(kCutShort);
    bool fmt_seen = false, data_seen = false;
    for (uint64_t at = kHeader; at < end;) {
        if (end - at < kChunkHeader) return CheckInvalid(kBadChunk);
        const uint8_t* chunk = p + at;
        const uint64_t size = Le64(chunk + 16);
        if (size < kChunkHeader || size > end - at) return CheckInvalid(kBadChunk);
        if (IsWaveChunk(chunk, kFmt)) {
            if (size < kChunkHeader + 16) return CheckInvalid(kBadFmtChunk);
            const uint8_t* f = chunk + kChunkHeader;
            if (Le16(f + 2) == 0 || Le32(f + 4) == 0 || Le16(f + 12) == 0) return CheckInvalid(kBadFmtChunk);
            fmt_seen = true;
        } else if (IsWaveChunk(chunk, kData)) {
            if (!fmt_seen) return CheckInvalid(kDataBeforeFmt);
            data_seen = true;
        }
        // Chunks are padded to 8 bytes; the last one may end unpadded.
        const uint64_t padded = (size + 7) & ~uint64_t{7};
        at = padded <= end - at ? at + padded : end;
    }
    return data_seen ? CheckValid(end) : CheckInvalid(kNoDataChunk);
}

extern const Checker kW64Checker = {CheckW64, kReasons, std::size(kReasons), nullptr};
