// The box types that stand at the top level of an ISO base media file (MP4,
// MOV, HEIF, ...). Header-only and plain data, so that formathound's walk
// and hound's checker end an item's chain of boxes at the same box.
#pragma once
#include <cstdint>
#include <cstring>

namespace formathound {

inline constexpr char kTopLevelBoxes[][5] = {
    "ftyp", "moov", "mdat", "free", "skip", "wide", "udta", "uuid", "meta", "pdin", "moof", "mfra",
    "sidx", "ssix", "styp", "prft", "emsg", "pnot", "junk", "jumb", "idat", "etyp", "otyp"};

// True when the four bytes at type name a top-level box; any other ends the chain.
inline bool IsTopLevelBox(const uint8_t* type) {
    for (const char* name : kTopLevelBoxes) {
        if (std::memcmp(type, name, 4) == 0) return true;
    }
    return false;
}

}  // namespace formathound
