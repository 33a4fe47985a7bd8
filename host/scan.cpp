// The scan loop: asks the plug-ins position by position and collects items.
#include "host/scan.h"

#include <algorithm>

uint64_t SizeInFile(uint64_t offset, uint64_t size, uint64_t file_size, bool* truncated) {
    if (offset >= file_size) {
        *truncated = size > 0 || offset > file_size;
        return 0;
    }
    const uint64_t room = file_size - offset;
    *truncated = size > room;
    return *truncated ? room : size;
}

uint64_t NextPosition(uint64_t position, const Item& item, bool nested) {
    const uint64_t step = position + 1;
    if (nested || item.truncated) return step;
    // Not truncated, so offset + size lies within the data: no overflow.
    return std::max(step, item.offset + item.size);
}

bool Scanner::Accept(const FoundItem& found, uint32_t plugin, Item* item) const {
    if (found.size < options_.min_size || found.size > options_.max_size) return false;
    item->offset = found.offset;
    item->size = found.size;
    item->size_in_file = SizeInFile(found.offset, found.size, size_, &item->truncated);
    item->extension = found.extension != nullptr ? found.extension : "";
    item->description = found.description != nullptr ? found.description : "";
    item->plugin = plugin;
    return true;
}

bool Scanner::Stopped() const {
    return options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed) != 0;
}

bool Scanner::Ask(uint64_t position, Item* item) const {
    for (const Detector& detector : detectors_) {
        FoundItem found = {position, 0, nullptr, nullptr};
        if (detector.record->Detect(0, reader_, position, &found) == 0) continue;
        if (Accept(found, detector.plugin, item)) return true;
    }
    return false;
}

uint64_t Scanner::ScanRange(uint64_t begin, uint64_t end, const ItemFn& on_item,
                            const ProgressFn& on_progress) const {
    uint64_t items = 0;
    Item item;
    uint64_t position = begin;
    while (position < end) {
        // Progress is reported between strides, never per position.
        const uint64_t stride_end = end - position > kProgressStride ? position + kProgressStride : end;
        while (position < stride_end) {
            if (Stopped()) return items;
            if (!Ask(position, &item)) {
                ++position;
                continue;
            }
            ++items;
            on_item(item);
            position = NextPosition(position, item, options_.nested);
        }
        if (on_progress) on_progress(std::min(position, end), items);
    }
    return items;
}
