// The search for candidate positions: where, by their filters, at least one
// plug-in may answer yes. A first pass finds the positions where some gate
// passes, all gates at once: with Hyperscan over windows of the data where
// it is built in and runs, else by the first byte test of every gate (16
// positions a step with SSE2, or a byte table). Each hit is then checked
// against every gate of every filter.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "host/base/reader.h"
#include "host/scan/filters.h"
#include "host/scan/gate_matcher.h"

// A set of plug-ins, by their index in the order; the bit of a plug-in past
// the 64th is never set (such a plug-in is asked at every position).
using DetectorMask = uint64_t;
constexpr uint32_t kMaskedDetectors = 64;

class CandidateSearch {
public:
    // filters[i] belongs to the plug-in asked i-th; data outlives the search.
    // matcher: MatcherFor(filters), made once for the inputs of a run; made
    // here when null.
    CandidateSearch(const MappedData* data, const std::vector<CandidateFilter>& filters,
                    bool use_matcher = true, std::shared_ptr<const GateMatcher> matcher = nullptr);

    // The compiled gates of the filters, for every search with them; null
    // where the matcher is not used (no Hyperscan, or a plug-in asked
    // everywhere).
    static std::shared_ptr<const GateMatcher> MatcherFor(const std::vector<CandidateFilter>& filters);
    ~CandidateSearch();

    // True when the first pass runs on Hyperscan.
    bool uses_matcher() const { return matcher_ != nullptr; }

    // False when some plug-in is asked everywhere: then every position is a
    // candidate and Next is not worth calling.
    bool skips() const { return skips_; }

    // The plug-ins that may answer yes at position.
    DetectorMask MaskAt(uint64_t position) const;

    // The first position in [from, end) where MaskAt is not empty, with its
    // mask in *mask; end when there is none.
    uint64_t Next(uint64_t from, uint64_t end, DetectorMask* mask) const;

private:
    struct Filter {
        bool everywhere;
        std::vector<Gate> gates;
    };
    // The first tests of all gates that share one offset.
    struct Anchor {
        uint32_t offset;
        std::vector<uint8_t> values;
        bool table[256];
    };

    uint8_t ByteAt(uint64_t position) const {
        return position < data_->size ? data_->bytes[position] : PastEndByte(data_->size, position);
    }
    bool Passes(const Gate& gate, uint64_t position) const;
    bool AnchorHit(uint64_t position) const;
    // First position in [from, end) with an anchor hit, where every byte
    // that the anchors read lies inside the data; end when none.
    uint64_t NextAnchorHit(uint64_t from, uint64_t end) const;
    // Next with the matcher: the candidates of a window of the data are
    // found at once, with their masks, and kept for the calling thread's
    // next calls.
    uint64_t NextMatcherHit(uint64_t from, uint64_t end, DetectorMask* mask) const;
    // Next without the matcher: anchor hits, each checked against every gate.
    uint64_t NextPlainHit(uint64_t from, uint64_t end, DetectorMask* mask) const;

    const MappedData* data_;
    std::vector<Filter> filters_;
    DetectorMask always_ = 0;  // plug-ins asked everywhere
    std::vector<Anchor> anchors_;
    uint32_t max_anchor_offset_ = 0;
    size_t anchor_values_ = 0;
    bool skips_ = true;
    std::shared_ptr<const GateMatcher> matcher_;
    // Positions [0, matcher_end_) have every tested byte inside the data.
    uint64_t matcher_end_ = 0;
    uint64_t serial_;  // tells this search's windows from another's
};
