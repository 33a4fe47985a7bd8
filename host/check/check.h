// The check stage: each item that a plug-in reports is checked against its
// format's own rules, by a checker chosen from the item's first bytes.
#pragma once
#include <cstddef>
#include <cstdint>

// The bytes from an item's offset up to the end of the data.
struct CheckBytes {
    const uint8_t* data;
    uint64_t size;
};

enum class CheckState : uint8_t {
    kOff,        // not checked: --no-check, or the bytes were not at hand
    kUnchecked,  // no checker knows the item's format
    kValid,
    kInvalid,
};

struct CheckResult {
    CheckState state = CheckState::kUnchecked;
    // For a valid item: its length by the format's own end; 0 where the
    // format defines none (the plug-in's size stands).
    uint64_t end = 0;
    const char* format = "";  // checker name: "jpeg", "png", ...; static text
    const char* reason = "";  // for an invalid item: why; static text
};

// Chooses the checker by the item's first bytes and runs it. Bounded in time
// and memory whatever the bytes claim; a limit that a real file may exceed
// gives unchecked rather than invalid.
CheckResult CheckItem(CheckBytes bytes);

// False when no valid JPEG starts here: the header (SOI up to the first
// scan) does not read cleanly. CheckItem then finds any item that starts
// here invalid, so a JPEG plug-in need not be asked.
bool JpegMayStart(CheckBytes bytes);

// False where a ZIP's local header stands but its entries lead to no
// central directory (a fragment of a deleted archive, an entry inside one):
// CheckItem then finds any item that starts here invalid, so a plug-in whose
// items start where it is asked need not be asked. Cheap: no entry is read.
bool ZipMayStart(CheckBytes bytes);

// The checkers, one per format (check/<format>.cpp). Each is handed the
// bytes of an item whose first bytes name its format.
CheckResult CheckJpeg(CheckBytes bytes);
CheckResult CheckPng(CheckBytes bytes);
CheckResult CheckGif(CheckBytes bytes);
CheckResult CheckZip(CheckBytes bytes);
CheckResult CheckBmp(CheckBytes bytes);
CheckResult CheckRiff(CheckBytes bytes);
CheckResult CheckPdf(CheckBytes bytes);
CheckResult CheckCab(CheckBytes bytes);

// Results that the checkers share.
CheckResult CheckValid(const char* format, uint64_t end);
CheckResult CheckInvalid(const char* format, const char* reason);
CheckResult CheckUnknown(const char* format, const char* reason);

// Little- and big-endian reads; the caller has checked the bounds.
inline uint32_t Le16(const uint8_t* p) { return p[0] | p[1] << 8; }
inline uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
