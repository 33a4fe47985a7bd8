// Bytes built by hand for formathound's walk table: numbers, text, CRCs,
// and the table's row. Each family's rows live in <family>_cases.cpp.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace formathound_test {

using Bytes = std::vector<uint8_t>;

inline Bytes Be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// CRC of bytes, MSB first, initial value 0, of the given width and polynomial.
inline uint32_t Crc(const Bytes& bytes, int width, uint32_t polynomial) {
    const uint32_t top = uint32_t{1} << (width - 1), mask = top | (top - 1);
    uint32_t crc = 0;
    for (const uint8_t byte : bytes) {
        crc ^= uint32_t{byte} << (width - 8);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & top ? crc << 1 ^ polynomial : crc << 1) & mask;
    }
    return crc;
}

inline Bytes Le64(uint64_t v) { return Cat({Le32(static_cast<uint32_t>(v)), Le32(static_cast<uint32_t>(v >> 32))}); }

// The CRC-32 of zip, gzip, 7z, XZ and RAR: reflected, all ones in and out.
inline uint32_t Crc32(const Bytes& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? crc >> 1 ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

inline Bytes Be16(uint32_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
inline Bytes Le16(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

// One row: bytes from the candidate position, and the size and extension
// that Detect must answer there.
struct Case {
    const char* label;
    Bytes data;
    uint64_t size;  // 0: not found
    const char* extension;
};

// The rows of each family.
std::vector<Case> AviCases();
std::vector<Case> AiffCases();
std::vector<Case> MidiCases();
std::vector<Case> FlvCases();
std::vector<Case> AsfCases();
std::vector<Case> MpegPsCases();
std::vector<Case> MpegTsCases();
std::vector<Case> MpegAudioCases();
std::vector<Case> Ole2Cases();
std::vector<Case> SqliteCases();
std::vector<Case> PeCases();
std::vector<Case> ElfCases();
std::vector<Case> MachOCases();
std::vector<Case> SevenZipCases();
std::vector<Case> RarCases();
std::vector<Case> XzCases();
std::vector<Case> ZstdCases();
std::vector<Case> Lz4Cases();
std::vector<Case> GzipCases();
std::vector<Case> Bzip2Cases();
std::vector<Case> TarCases();
std::vector<Case> CpioCases();
std::vector<Case> ArCases();
std::vector<Case> Iso9660Cases();
std::vector<Case> TiffCases();
std::vector<Case> PsdCases();
std::vector<Case> IcoCases();
std::vector<Case> NetpbmCases();
std::vector<Case> TgaCases();
std::vector<Case> XcfCases();
std::vector<Case> TextCases();

}  // namespace formathound_test
