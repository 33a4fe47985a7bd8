// The search for candidate positions.
#include "host/scan/candidates.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define HOUND_SSE2 1
#endif

namespace {

// More distinct first bytes than this are looked up in the byte table: the
// vector compare costs one step per byte value.
constexpr size_t kMaxVectorValues = 24;

// Positions searched by the matcher at once: large enough that a call costs
// little per byte, small enough that a window stays in the cache.
constexpr uint64_t kMatcherWindow = uint64_t{256} << 10;

std::atomic<uint64_t> next_serial{1};

// The candidate positions of the window that a thread searched last.
struct MatcherWindow {
    uint64_t serial = 0;  // the search it belongs to; 0: none
    uint64_t begin = 0;
    uint64_t end = 0;
    std::vector<GateMatcher::Hit> hits;
    std::vector<uint8_t> tail;  // the last positions' bytes and those past the end
};

}  // namespace

CandidateSearch::~CandidateSearch() = default;

std::shared_ptr<const GateMatcher> CandidateSearch::MatcherFor(const std::vector<CandidateFilter>& filters) {
    if (filters.size() > kMaskedDetectors) return nullptr;
    std::vector<GateMatcher::Entry> entries;
    for (size_t i = 0; i < filters.size(); ++i) {
        if (filters[i].everywhere) return nullptr;
        for (const Gate& gate : filters[i].gates) entries.push_back({gate, DetectorMask{1} << i});
    }
    return GateMatcher::Make(entries);
}

CandidateSearch::CandidateSearch(const MappedData* data, const std::vector<CandidateFilter>& filters,
                                 bool use_matcher, std::shared_ptr<const GateMatcher> matcher)
    : data_(data), serial_(next_serial.fetch_add(1)) {
    for (size_t i = 0; i < filters.size(); ++i) {
        filters_.push_back({filters[i].everywhere, filters[i].gates});
        if (i >= kMaskedDetectors) continue;
        if (filters[i].everywhere) {
            always_ |= DetectorMask{1} << i;
            skips_ = false;
        }
    }
    if (filters.size() > kMaskedDetectors) skips_ = false;
    for (const Filter& filter : filters_) {
        if (filter.everywhere) continue;
        for (const Gate& gate : filter.gates) {
            const ByteTest& first = gate.tests[0];
            auto anchor = std::find_if(anchors_.begin(), anchors_.end(),
                                       [&](const Anchor& a) { return a.offset == first.offset; });
            if (anchor == anchors_.end()) {
                anchors_.push_back(Anchor{first.offset, {}, {}});
                anchor = anchors_.end() - 1;
            }
            if (anchor->table[first.value]) continue;
            anchor->table[first.value] = true;
            anchor->values.push_back(first.value);
            ++anchor_values_;
            max_anchor_offset_ = std::max(max_anchor_offset_, first.offset);
        }
    }
    if (use_matcher && skips_) {
        matcher_ = matcher != nullptr ? std::move(matcher) : MatcherFor(filters);
        if (matcher_ != nullptr && data_->size > matcher_->max_offset()) {
            matcher_end_ = data_->size - matcher_->max_offset();
        }
    }
}

bool CandidateSearch::Passes(const Gate& gate, uint64_t position) const {
    for (uint32_t t = 0; t < gate.count; ++t) {
        if (!gate.tests[t].Holds(ByteAt(position + gate.tests[t].offset))) return false;
    }
    return true;
}

DetectorMask CandidateSearch::MaskAt(uint64_t position) const {
    DetectorMask mask = always_;
    const size_t count = std::min<size_t>(filters_.size(), kMaskedDetectors);
    for (size_t i = 0; i < count; ++i) {
        const Filter& filter = filters_[i];
        if (filter.everywhere) continue;
        for (const Gate& gate : filter.gates) {
            if (Passes(gate, position)) {
                mask |= DetectorMask{1} << i;
                break;
            }
        }
    }
    return mask;
}

bool CandidateSearch::AnchorHit(uint64_t position) const {
    for (const Anchor& anchor : anchors_) {
        if (anchor.table[ByteAt(position + anchor.offset)]) return true;
    }
    return false;
}

uint64_t CandidateSearch::NextAnchorHit(uint64_t from, uint64_t end) const {
    const uint8_t* bytes = data_->bytes;
    const uint64_t size = data_->size;
    // Positions whose anchor bytes all lie inside the data: [from, inside_end).
    const uint64_t inside_end =
        size > max_anchor_offset_ ? std::min(end, size - max_anchor_offset_) : from;
    uint64_t position = from;
#ifdef HOUND_SSE2
    if (anchor_values_ <= kMaxVectorValues) {
        __m128i splats[kMaxVectorValues];
        uint32_t offsets[kMaxVectorValues];
        size_t n = 0;
        for (const Anchor& anchor : anchors_) {
            for (uint8_t value : anchor.values) {
                splats[n] = _mm_set1_epi8(static_cast<char>(value));
                offsets[n++] = anchor.offset;
            }
        }
        while (position < inside_end && inside_end - position >= 16) {
            __m128i hits = _mm_setzero_si128();
            for (size_t i = 0; i < n; ++i) {
                const __m128i block =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + position + offsets[i]));
                hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, splats[i]));
            }
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
            if (mask != 0) return position + static_cast<unsigned>(__builtin_ctz(mask));
            position += 16;
        }
    }
#endif
    if (anchors_.size() == 1) {
        const Anchor& anchor = anchors_.front();
        const uint8_t* at = bytes + anchor.offset;
        while (position < inside_end && !anchor.table[at[position]]) ++position;
        if (position < inside_end) return position;
    } else {
        for (; position < inside_end; ++position) {
            for (const Anchor& anchor : anchors_) {
                if (anchor.table[bytes[position + anchor.offset]]) return position;
            }
        }
    }
    // The last positions, whose anchors may read past the end of the data.
    for (position = std::max(position, inside_end); position < end; ++position) {
        if (AnchorHit(position)) return position;
    }
    return end;
}

uint64_t CandidateSearch::NextMatcherHit(uint64_t from, uint64_t end, DetectorMask* mask) const {
    thread_local MatcherWindow window;
    const uint64_t inside = std::min(end, data_->size);
    while (from < inside) {
        if (window.serial != serial_ || from < window.begin || from >= window.end) {
            window.serial = serial_;
            window.begin = from;
            if (from < matcher_end_) {
                window.end = std::min(matcher_end_, from + kMatcherWindow);
                matcher_->Find(data_->bytes, window.begin, window.end, &window.hits);
            } else {
                // The last positions, whose gates may test bytes past the
                // end of the data (as many as the farthest test's offset):
                // searched in a copy that holds those bytes as the reader
                // gives them.
                window.end = data_->size;
                const uint64_t count = window.end - window.begin;
                window.tail.resize(count + matcher_->max_offset());
                for (uint64_t i = 0; i < window.tail.size(); ++i) {
                    window.tail[i] = ByteAt(window.begin + i);
                }
                matcher_->Find(window.tail.data(), 0, count, &window.hits);
                for (GateMatcher::Hit& hit : window.hits) hit.position += window.begin;
            }
        }
        const auto hit = std::lower_bound(
            window.hits.begin(), window.hits.end(), from,
            [](const GateMatcher::Hit& h, uint64_t position) { return h.position < position; });
        if (hit != window.hits.end()) {
            if (hit->position >= end) return end;
            *mask = hit->mask;
            return hit->position;
        }
        from = window.end;
    }
    // Positions past the data end, where a caller asks for them.
    return from < end ? NextPlainHit(from, end, mask) : end;
}

uint64_t CandidateSearch::NextPlainHit(uint64_t from, uint64_t end, DetectorMask* mask) const {
    for (uint64_t position = from; position < end; ++position) {
        position = NextAnchorHit(position, end);
        if (position >= end) break;
        const DetectorMask found = MaskAt(position);
        if (found != 0) {
            *mask = found;
            return position;
        }
    }
    return end;
}

uint64_t CandidateSearch::Next(uint64_t from, uint64_t end, DetectorMask* mask) const {
    if (!skips_) {
        if (from < end) *mask = MaskAt(from);
        return from < end ? from : end;
    }
    if (matcher_ != nullptr) return NextMatcherHit(from, end, mask);
    return NextPlainHit(from, end, mask);
}
