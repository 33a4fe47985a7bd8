// Number reader: digits are read from the end of the text backwards, so that
// a prefix, a sign or an earlier number in front of them stops the reading.
#include "markhound/support/numbers.h"

#include "markhound/platform/platform.h"
#include "markhound/support/text.h"

const char kDigitAlphabet[37] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

namespace {

// ParseInBase of the first length characters of s.
int32_t ParseDigits(const char* s, int32_t length, int32_t base) {
    while (length > 0 && s[length - 1] == ' ') --length;
    if (length == 0) return -1;
    // Unsigned, so that wrapping around is defined; converted once at the end.
    uint32_t value = 0;
    uint32_t weight = 1;
    for (int32_t i = length - 1; i >= 0; --i) {
        int32_t digit = CharIndex(kDigitAlphabet, PlatformCharUpper(s[i]), base);
        if (digit < 0) break;  // for the last character this leaves 0
        value += static_cast<uint32_t>(digit) * weight;
        weight *= static_cast<uint32_t>(base);
    }
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t CharIndex(const char* alphabet, char c, int32_t limit) {
    if (alphabet == nullptr || c == '\0') return -1;
    for (int32_t i = 0; alphabet[i] != '\0' && (limit < 0 || i < limit); ++i) {
        if (alphabet[i] == c) return i;
    }
    return -1;
}

int32_t ParseInBase(const char* s, int32_t base) {
    if (s == nullptr || *s == '\0') return -1;
    return ParseDigits(s, StrLen(s), base);
}

int32_t ParseNumber(const char* s, int32_t base) {
    if (s == nullptr || *s == '\0') return 0;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return ParseInBase(s, 16);
    const int32_t length = StrLen(s);
    const char last = s[length - 1];
    // The suffix picks the base and is not read; a suffix alone leaves nothing.
    if (last == 'h' || last == 'H') return ParseDigits(s, length - 1, 16);
    if (last == 'b' || last == 'B') return ParseDigits(s, length - 1, 2);
    if (s[0] == '0') return ParseInBase(s, 8);
    // A one-character text 'x' gives the code of x; a lone apostrophe gives
    // its terminator.
    if (s[0] == '\'' && last == '\'') return static_cast<int8_t>(s[1]);
    return ParseInBase(s, base);
}
