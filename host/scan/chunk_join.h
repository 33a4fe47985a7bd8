// The rule that joins a chunk's own scan to the true scan, as a pure function
// of positions: chunked_scan.cpp applies it, tests call it without threads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/scan/scan.h"

// An item as a chunk's scan found it: where it asked, and where it went on.
struct ChunkFound {
    Item item;
    uint64_t asked;
    uint64_t next;
};

// What a worker made of one chunk.
struct ChunkResult {
    std::vector<ChunkFound> found;
    uint64_t end_position = 0;  // where the chunk's scan stopped, at or behind its end
    bool skipped = false;       // not scanned: the true scan had already passed it
    bool stopped = false;
    bool ready = false;
};

// What the joining thread does next at position (< chunk_end), the true
// scan's position: scan [position, walk_to) itself, or take the chunk's
// items from index first on and go on where the chunk's scan ended.
struct JoinStep {
    bool walk;
    uint64_t walk_to;
    size_t first;
    bool operator==(const JoinStep& other) const {
        return walk == other.walk && walk_to == other.walk_to && first == other.first;
    }
};

// found: the chunk's items in order; end_position: where its scan ended (at
// or behind chunk_end, or before it when the scan held all it may hold).
// Where position lies inside a jump of the chunk's scan, or where that scan
// never got, the positions are scanned here; elsewhere both scans ask the
// same positions from here on, so the chunk's later items are the true ones.
JoinStep NextJoinStep(uint64_t position, uint64_t chunk_end, const std::vector<ChunkFound>& found,
                      uint64_t end_position);
