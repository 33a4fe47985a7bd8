// Byte counts, and one image scanned as parts: --range BEGIN:END or
// --part K/N picks the positions whose items a run reports. Joined in
// order, the parts give the items of one whole scan (see
// Scanner::ScanUntilMet and hound join).
#pragma once
#include <cstdint>
#include <limits>
#include <string>

// A byte count: decimal or 0x-hexadecimal digits, optionally followed by
// K, M, G or T (powers of 1024; "KB", "KiB" and lower case alike).
bool ParseSize(const std::string& text, uint64_t* value);

struct ScanPart {
    bool given = false;
    uint64_t begin = 0;  // --range
    uint64_t end = std::numeric_limits<uint64_t>::max();
    uint64_t k = 0;  // --part K/N (K from 1 to N); 0: --range
    uint64_t n = 0;
};

// "BEGIN:END" with byte counts as ParseSize reads them; END may be left out
// (the end of the data). BEGIN must lie before END.
bool ParseRange(const std::string& text, ScanPart* part, std::string* error);
constexpr uint64_t kMaxParts = 1000000;

// "K/N" with 1 <= K <= N <= kMaxParts.
bool ParsePart(const std::string& text, ScanPart* part, std::string* error);

struct PartBounds {
    uint64_t begin, end;
};
// The positions of the part in data of size bytes; part K of N covers
// [floor(size * (K-1) / N), floor(size * K / N)), so the N parts tile the data.
PartBounds BoundsIn(const ScanPart& part, uint64_t size);
