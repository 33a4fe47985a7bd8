// The scan loop: asks the plug-ins position by position and collects items.
//
// All scanning goes through Scanner::ScanRange, so that a per-plug-in
// candidate filter (in Ask) and chunked threading (ranges scanned apart and
// joined) each have one place to go.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "kx_plugin.h"

// One plug-in as the scan asks it: its record, and its number in the order.
struct Detector {
    const PluginInterface* record;
    uint32_t plugin;
};

struct ScanOptions {
    bool nested = false;  // ask every position, also inside found items
    uint64_t min_size = 0;
    uint64_t max_size = std::numeric_limits<uint64_t>::max();
    // When given and non-zero, ScanRange returns before the next position.
    const std::atomic<int>* stop = nullptr;
};

// An item as reported: the plug-in's texts copied at once, since they are
// valid only until the plug-in's next Initialize, Reload or Finalize.
struct Item {
    uint64_t offset = 0;
    uint64_t size = 0;          // as the plug-in reported it
    uint64_t size_in_file = 0;  // the part that lies inside the data
    bool truncated = false;     // the item reaches past the end of the data
    std::string extension;
    std::string description;
    uint32_t plugin = 0;
};

// The part of [offset, offset + size) that lies in data of file_size bytes;
// *truncated when the item reaches past the end (or its end overflows).
uint64_t SizeInFile(uint64_t offset, uint64_t size, uint64_t file_size, bool* truncated);

// Where the scan goes on after an item found at position: behind the item,
// or at position + 1 with nested scanning, for an item of size 0, and for a
// truncated item (a size that runs past the data is more likely a false
// match than a real item, and must not hide the items behind it).
uint64_t NextPosition(uint64_t position, const Item& item, bool nested);

// The number of positions between two progress calls.
constexpr uint64_t kProgressStride = uint64_t{1} << 20;

class Scanner {
public:
    using ItemFn = std::function<void(const Item&)>;
    // Called every kProgressStride positions and at the end of a range with
    // the next position to scan and the number of items reported so far.
    using ProgressFn = std::function<void(uint64_t position, uint64_t items)>;

    Scanner(const HostReader* reader, uint64_t size, std::vector<Detector> detectors,
            const ScanOptions& options)
        : reader_(reader), size_(size), detectors_(std::move(detectors)), options_(options) {}

    // Scans the positions [begin, end); items that start in the range are
    // passed to on_item in position order. Returns the number of items. A
    // stop request ends the scan early, without a last progress call.
    uint64_t ScanRange(uint64_t begin, uint64_t end, const ItemFn& on_item,
                       const ProgressFn& on_progress) const;

private:
    // Asks the plug-ins in order at position; the first accepted yes fills
    // *item. A yes whose item fails the size filters counts as a no.
    bool Ask(uint64_t position, Item* item) const;
    bool Accept(const FoundItem& found, uint32_t plugin, Item* item) const;
    bool Stopped() const;

    const HostReader* reader_;
    uint64_t size_;
    std::vector<Detector> detectors_;
    ScanOptions options_;
};
