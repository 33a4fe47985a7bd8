// RIFF checker (WAV, WebP, AVI and other forms): the chunk walk must fill the
// RIFF size exactly, with form-specific chunks where hound knows the form.
// The item ends after the RIFF chunk (and its pad byte, when present).
#include <cstring>

#include "host/check/check.h"

namespace {

bool IsIdByte(uint8_t c) { return c >= 0x20 && c < 0x7F; }

bool IsId(const uint8_t* p) { return IsIdByte(p[0]) && IsIdByte(p[1]) && IsIdByte(p[2]) && IsIdByte(p[3]); }

// A WAVE form needs a sane "fmt " chunk before its "data" chunk.
const char* CheckWave(const uint8_t* chunk, uint32_t size, bool* fmt_seen, bool* data_seen) {
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
        if (size < 16) return "bad fmt chunk";
        const uint8_t* f = chunk + 8;
        const uint32_t channels = Le16(f + 2), rate = Le32(f + 4), align = Le16(f + 12);
        if (channels == 0 || rate == 0 || align == 0) return "bad fmt chunk";
        *fmt_seen = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
        if (!*fmt_seen) return "data before fmt";
        *data_seen = true;
    }
    return nullptr;
}

}  // namespace

CheckResult CheckRiff(CheckBytes bytes) {
    if (bytes.size < 12) return CheckInvalid("riff", "cut short");
    const uint8_t* p = bytes.data;
    const uint64_t end = 8 + uint64_t{Le32(p + 4)};
    if (!IsId(p + 8)) return CheckInvalid("riff", "bad form type");
    if (end < 12) return CheckInvalid("riff", "bad size");
    if (end > bytes.size) return CheckInvalid("riff", "cut short");
    const bool wave = std::memcmp(p + 8, "WAVE", 4) == 0;
    const bool webp = std::memcmp(p + 8, "WEBP", 4) == 0;
    bool fmt_seen = false, data_seen = false;
    uint64_t at = 12;
    while (at < end) {
        if (end - at < 8) return CheckInvalid("riff", "bad chunk");
        const uint8_t* chunk = p + at;
        const uint32_t size = Le32(chunk + 4);
        if (!IsId(chunk)) return CheckInvalid("riff", "bad chunk id");
        if (size > end - at - 8) return CheckInvalid("riff", "chunk past the end");
        if (webp && at == 12 && std::memcmp(chunk, "VP8", 3) != 0) {
            return CheckInvalid("riff", "no VP8 chunk");
        }
        if (wave) {
            if (const char* reason = CheckWave(chunk, size, &fmt_seen, &data_seen)) {
                return CheckInvalid("riff", reason);
            }
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
    if (wave && !data_seen) return CheckInvalid("riff", "no data chunk");
    // A pad byte after an odd-sized form belongs to the item when it is zero.
    const uint64_t padded = end + (end & 1);
    return CheckValid("riff", padded <= bytes.size && (end & 1) && p[end] == 0 ? padded : end);
}
