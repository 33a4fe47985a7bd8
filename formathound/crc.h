// CRC-32 with polynomial 0x04C11DB7, most significant bit first, no final
// xor: the check of Ogg pages (initial value 0) and of MPEG-2 sections
// (initial value all ones).
#pragma once
#include <cstdint>

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

}  // namespace formathound
