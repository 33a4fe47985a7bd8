// Parts of one scan: the range of a part, and the walk that tells where the
// next part's scan meets the whole scan.
#include "host/scan/range.h"

#include <algorithm>

#include "host/options.h"
#include "host/scan/scan.h"

namespace {

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

// Two walks go on in turns, the one behind catching up to the other: the
// scan of this part (from ahead, where its last item put it) and the scan of
// the next part (from end). A position that both reach is one that both ask,
// and from there on they go the same way; the walk of this part is the whole
// scan's whenever this part's was, so the next part's items from there on
// are the whole scan's too.
uint64_t Scanner::ScanUntilMet(uint64_t ahead, uint64_t end, const ItemFn& on_item) const {
    const SinkFn report = [&](const Item& item, uint64_t, uint64_t) {
        Deliver(item, on_item);
        return true;
    };
    const SinkFn ignore = [](const Item&, uint64_t, uint64_t) { return true; };
    uint64_t next_part = end;
    bool stopped = false;
    while (ahead != next_part && std::min(ahead, next_part) < size_ && !stopped) {
        if (ahead < next_part) {
            ahead = Walk(ahead, next_part, report, &stopped);
        } else {
            next_part = Walk(next_part, ahead, ignore, &stopped);
        }
    }
    return std::max(ahead, next_part);
}
