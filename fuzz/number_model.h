// A plain model of the number reader's rules, written apart from the code
// under test: the fuzz targets compare the two.
#pragma once
#include <cstdint>
#include <string>

namespace model {

inline const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The value of digit c in base, or -1; a to z count as A to Z, a negative
// base allows every digit of the alphabet.
inline int32_t ModelDigit(char c, int32_t base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const int32_t allowed = base < 0 ? 36 : (base < 36 ? base : 36);
    for (int32_t i = 0; i < allowed; ++i) {
        if (kDigits[i] == c) return i;
    }
    return -1;
}

// Digits read from the end of s[0, length) towards its start, modulo 2^32.
inline int32_t ModelDigits(const std::string& s, size_t length, int32_t base) {
    while (length > 0 && s[length - 1] == ' ') --length;
    if (length == 0) return -1;
    uint32_t value = 0;
    uint32_t weight = 1;
    for (size_t i = length; i-- > 0;) {
        const int32_t digit = ModelDigit(s[i], base);
        if (digit < 0) break;
        value += static_cast<uint32_t>(digit) * weight;
        weight *= static_cast<uint32_t>(base);
    }
    return static_cast<int32_t>(value);
}

inline int32_t ModelParseInBase(const std::string& s, int32_t base) {
    return s.empty() ? -1 : ModelDigits(s, s.size(), base);
}

inline int32_t ModelParseNumber(const std::string& s, int32_t base) {
    if (s.empty()) return 0;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return ModelParseInBase(s, 16);
    const char last = s.back();
    if (last == 'h' || last == 'H') return ModelDigits(s, s.size() - 1, 16);
    if (last == 'b' || last == 'B') return ModelDigits(s, s.size() - 1, 2);
    if (s[0] == '0') return ModelParseInBase(s, 8);
    if (s[0] == '\'' && last == '\'') return static_cast<int8_t>(s.size() > 1 ? s[1] : '\0');
    return ModelParseInBase(s, base);
}

}  // namespace model
