// Parts of one scan: the walk that tells where the next part's scan meets
// the whole scan.
#include <algorithm>

#include "host/scan/scan.h"

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
