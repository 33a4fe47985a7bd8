// Number reader: digits in any base up to 36, and number texts whose base a
// prefix, a suffix or apostrophes may choose. Results are signed 32-bit.
#pragma once
#include <cstdint>

// The digits of every base: a digit's value is its index here.
extern const char kDigitAlphabet[37];  // "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"

// Index of the first character equal to c among the first limit characters
// of alphabet (all of them for a negative limit), or -1; -1 for a null or
// empty alphabet and for c == 0.
int32_t CharIndex(const char* alphabet, char c, int32_t limit);

// The value of the digits at the end of s in base, read from the last
// character that is not a space towards the start up to the first non-digit;
// 0 when the last such character is no digit, -1 when s is null, empty or
// spaces only. No sign: "-5" is 5. Arithmetic wraps around at 32 bits.
int32_t ParseInBase(const char* s, int32_t base);

// A number text: "0x"/"0X" prefix hexadecimal, h/H suffix hexadecimal, b/B
// suffix binary, a leading 0 octal, 'c' the code of c, otherwise base.
// 0 for a null or empty s.
int32_t ParseNumber(const char* s, int32_t base);
