// What the checkers share: each is handed the bytes of an item whose magic
// names its format (host/check/formats.cpp) and answers valid (with the
// format's own end), invalid or unchecked, with a reason code from its own
// table of reasons. Bounded in time and memory whatever the bytes claim; a
// limit that a real file may exceed gives unchecked rather than invalid.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/base/item.h"

// What a format's file hands the format table (host/check/formats.cpp).
struct Checker {
    CheckFn check;
    // The texts of the checker's reason codes, by code (code 0: "").
    const char* const* reasons;
    size_t reason_count;
    // Optional: false where no item of the format can pass its check, and
    // cheap, so that a plug-in whose items start where it is asked need not
    // be asked there. Asked only where the format's magic stands.
    bool (*may_start)(CheckBytes bytes);
};

// The first occurrence of word in [begin, limit), or null; through memo
// where given, so that searches from rising positions of the same data read
// each byte about once.
const uint8_t* FindForward(const uint8_t* begin, const uint8_t* limit, const char* word, size_t length,
                           SearchMemo* memo);

inline CheckResult CheckValid(uint64_t end) { return {CheckState::kValid, end, kNoFormat, 0}; }
inline CheckResult CheckInvalid(uint8_t reason) { return {CheckState::kInvalid, 0, kNoFormat, reason}; }
inline CheckResult CheckUnknown(uint8_t reason) { return {CheckState::kUnchecked, 0, kNoFormat, reason}; }

// Little- and big-endian reads; the caller has checked the bounds.
inline uint32_t Le16(const uint8_t* p) { return p[0] | p[1] << 8; }
inline uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t{Le32(p + 4)} << 32; }
inline uint64_t Be64(const uint8_t* p) { return uint64_t{Be32(p)} << 32 | Be32(p + 4); }
