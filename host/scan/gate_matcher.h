// Gate matching with Hyperscan: all gates of all filters compiled once into
// multi-pattern databases (one, or two where one would hold too many
// patterns for Hyperscan's fast literal search), so that a block of data is
// searched for every gate at close to memory speed, however many gates
// there are.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "host/scan/filters.h"

class GateMatcher {
public:
    // A gate and the plug-ins (bits of a mask) that may answer yes where it passes.
    struct Entry {
        Gate gate;
        uint64_t mask;
    };
    // Positions at which gates pass, with the union of their masks.
    struct Hit {
        uint64_t position;
        uint64_t mask;
    };

    // A matcher for the gates, or null where Hyperscan is not built in,
    // cannot run on this processor, or there is no gate that can pass.
    static std::unique_ptr<GateMatcher> Make(const std::vector<Entry>& entries);
    ~GateMatcher();
    GateMatcher(const GateMatcher&) = delete;
    GateMatcher& operator=(const GateMatcher&) = delete;

    // The largest offset that a gate tests.
    uint32_t max_offset() const { return max_offset_; }

    // Replaces *hits with the positions p in [begin, end), in order and each
    // once, at which some gate passes, each with the union of the masks of
    // the gates that pass there. Every byte that the gates test at those
    // positions lies in bytes[0, size): end + max_offset() <= size.
    void Find(const uint8_t* bytes, uint64_t begin, uint64_t end, std::vector<Hit>* hits) const;

private:
    struct Database;
    GateMatcher(std::unique_ptr<Database> database, uint32_t max_offset);

    std::unique_ptr<Database> database_;
    uint32_t max_offset_;
};
