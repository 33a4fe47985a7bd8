// Builders of in-memory signatures for the matching tests.
#pragma once
#include <cstdint>
#include <vector>

#include "markhound/signatures/signature.h"

constexpr int kAny = -1;  // a wildcard element

inline void FillPattern(PatternArray& target, const std::vector<int>& elements) {
    target.Clear();
    for (int element : elements) {
        PatternByte byte{static_cast<uint8_t>(element == kAny ? 0 : 1),
                         static_cast<uint8_t>(element == kAny ? 0 : element)};
        target.Add(&byte);
    }
}

inline void Name(SizedSignature& signature, const char* name, const char* ext) {
    signature.name.Set(name);
    signature.ext.Set(ext);
}
