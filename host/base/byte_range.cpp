// Byte counts and the parts of one scan, as the command line gives them.
#include "host/base/byte_range.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace {

int SuffixShift(const std::string& suffix) {
    std::string lower;
    for (char c : suffix) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const char* const kUnits = "kmgt";
    for (int i = 0; i < 4; ++i) {
        const std::string u(1, kUnits[i]);
        if (lower == u || lower == u + "b" || lower == u + "ib") return 10 * (i + 1);
    }
    if (lower.empty() || lower == "b") return 0;
    return -1;
}

bool ParseCount(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return ParseSize(text, value);
}

// floor(size * k / n) without overflow, for k <= n <= kMaxParts: rest * k
// stays below kMaxParts squared.
uint64_t Share(uint64_t size, uint64_t k, uint64_t n) {
    const uint64_t whole = size / n, rest = size % n;
    return whole * k + rest * k / n;
}

}  // namespace

bool ParseSize(const std::string& text, uint64_t* value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const int base = hex ? 16 : 10;
    size_t i = hex ? 2 : 0;
    uint64_t number = 0;
    const size_t first_digit = i;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        if (!hex && !std::isdigit(static_cast<unsigned char>(c))) break;
        const uint64_t digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10;
        if (number > (std::numeric_limits<uint64_t>::max() - digit) / base) return false;
        number = number * base + digit;
    }
    if (i == first_digit) return false;
    // Hexadecimal digits swallow a "b" suffix; only decimal counts take units.
    const int shift = SuffixShift(text.substr(i));
    if (shift < 0 || (hex && shift > 0)) return false;
    if (shift > 0 && number > (std::numeric_limits<uint64_t>::max() >> shift)) return false;
    *value = number << shift;
    return true;
}

bool ParseRange(const std::string& text, ScanPart* part, std::string* error) {
    const size_t colon = text.find(':');
    const std::string begin = text.substr(0, colon);
    const std::string end = colon == std::string::npos ? "" : text.substr(colon + 1);
    part->given = true;
    part->end = std::numeric_limits<uint64_t>::max();
    if (colon == std::string::npos || !ParseSize(begin, &part->begin) ||
        (!end.empty() && !ParseSize(end, &part->end))) {
        *error = "--range: '" + text + "' is not BEGIN:END (byte counts; END may be left out)";
        return false;
    }
    if (part->begin >= part->end) {
        *error = "--range: '" + text + "' is empty: BEGIN must lie before END";
        return false;
    }
    return true;
}

bool ParsePart(const std::string& text, ScanPart* part, std::string* error) {
    const size_t slash = text.find('/');
    part->given = true;
    if (slash == std::string::npos || !ParseCount(text.substr(0, slash), &part->k) ||
        !ParseCount(text.substr(slash + 1), &part->n) || part->k < 1 || part->k > part->n ||
        part->n > kMaxParts) {
        *error = "--part: '" + text + "' is not K/N with 1 <= K <= N <= " + std::to_string(kMaxParts);
        return false;
    }
    return true;
}

PartBounds BoundsIn(const ScanPart& part, uint64_t size) {
    if (!part.given) return {0, size};
    if (part.k > 0) return {Share(size, part.k - 1, part.n), Share(size, part.k, part.n)};
    return {std::min(part.begin, size), std::min(part.end, size)};
}

