// Signatures described by fuzz input: how the match targets read a pattern,
// and the plain model of the pattern test that both compare against.
#pragma once
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "markhound/signatures/pattern_byte.h"
#include "markhound/support/arrays.h"

// Reads count elements of two bytes each: the exact flag as it stands (any
// non-zero byte means exact) and the value.
inline std::vector<PatternByte> ReadPattern(FuzzInput& input, uint32_t count) {
    std::vector<PatternByte> elements;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t exact = input.Byte();
        elements.push_back({exact, input.Byte()});
    }
    return elements;
}

// False when target could not take every element.
inline bool Fill(PatternArray& target, const std::vector<PatternByte>& elements) {
    for (const PatternByte& element : elements) {
        if (target.Add(&element) == nullptr) return false;
    }
    return true;
}

// The pattern test as a model: the calls it must make and its answer.
inline bool ModelPatternTest(const std::vector<PatternByte>& pattern, const RecordingReader& reader,
                             uint64_t position, std::vector<RecordingReader::Call>* calls) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i].exact == 0) continue;
        const uint64_t at = position + i;
        calls->push_back({RecordingReader::Kind::kReadByte, at, 1});
        if (reader.ByteAt(at) != pattern[i].value) return false;
    }
    return true;
}

// An offset or addon: small, 32-bit or any 64-bit value, picked by one byte.
inline uint64_t ReadOffset(FuzzInput& input) {
    switch (input.Byte() % 3) {
        case 0: return input.Byte();
        case 1: return input.U32();
        default: return input.U64();
    }
}

// The fill pattern past the data: none (zeros), one byte or two.
inline std::vector<uint8_t> ReadFill(FuzzInput& input) {
    std::vector<uint8_t> fill(input.Byte() % 3);
    for (uint8_t& byte : fill) byte = input.Byte();
    return fill;
}
