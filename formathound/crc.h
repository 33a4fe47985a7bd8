// CRC-32 with polynomial 0x04C11DB7, most significant bit first, no final
// xor: the check of Ogg pages (initial value 0) and of MPEG-2 sections
// (initial value all ones). And the same polynomial reflected (0xEDB88320),
// all ones in and out: the CRC-32 of gzip, 7z, XZ and RAR.
#pragma once
#include <cstdint>

#include "formathound/source.h"

namespace formathound {

struct Crc32Table {
    uint32_t entry[256];
    constexpr Crc32Table() : entry() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i << 24;
            for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
            entry[i] = crc;
        }
    }
};
inline constexpr Crc32Table kCrc32;

inline uint32_t Crc32Step(uint32_t crc, uint8_t byte) { return crc << 8 ^ kCrc32.entry[(crc >> 24 ^ byte) & 0xFF]; }

struct ReflectedCrc32Table {
    uint32_t entry[256];
    constexpr ReflectedCrc32Table() : entry() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i;
            for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? crc >> 1 ^ 0xEDB88320u : crc >> 1;
            entry[i] = crc;
        }
    }
};
inline constexpr ReflectedCrc32Table kReflectedCrc32;

// The reflected CRC-32 of count bytes, carried on from crc (start with
// kReflectedCrc32Start, end with ~).
constexpr uint32_t kReflectedCrc32Start = 0xFFFFFFFFu;
inline uint32_t ReflectedCrc32Add(uint32_t crc, const uint8_t* bytes, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) crc = crc >> 8 ^ kReflectedCrc32.entry[(crc ^ bytes[i]) & 0xFF];
    return crc;
}

// The reflected CRC-32 of count bytes at offset at, read through source in
// windows; false when they are out of reach.
inline bool ReflectedCrc32Of(Source& source, uint64_t at, uint64_t count, uint32_t* crc) {
    uint32_t value = kReflectedCrc32Start;
    while (count > 0) {
        const uint32_t part = count < kWindowBytes ? static_cast<uint32_t>(count) : kWindowBytes;
        const uint8_t* bytes = source.Peek(at, part);
        if (bytes == nullptr) return false;
        value = ReflectedCrc32Add(value, bytes, part);
        at += part;
        count -= part;
    }
    *crc = ~value;
    return true;
}

}  // namespace formathound
