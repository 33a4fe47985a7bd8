// One element of a byte pattern: an exact byte or a wildcard.
#pragma once
#include <cstdint>

struct PatternByte {
    uint8_t exact;  // non-zero: the data byte must equal value; 0: any byte matches
    uint8_t value;
};
static_assert(sizeof(PatternByte) == 2, "a pattern element is two bytes");
