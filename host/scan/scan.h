// The scan loop: asks the plug-ins position by position and collects items.
//
// Every position is asked in Ask, the one place of the candidate filters and
// the pre-checks; ScanRange scans a range (in chunks on threads, joined),
// ScanUntilMet walks on past a part's end.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "contract/kx_plugin.h"
#include "host/base/item.h"
#include "host/base/reader.h"
#include "host/scan/signature_answers.h"
#include "host/scan/filters.h"

class CandidateSearch;
class GateMatcher;
struct ChunkResult;

// One plug-in as the scan asks it: its record, its number in the order, and
// the positions where it may answer yes (everywhere unless hound knows it).
struct Detector {
    Detector(const PluginInterface* record_, uint32_t plugin_, CandidateFilter filter_ = {})
        : record(record_), plugin(plugin_), filter(std::move(filter_)) {}
    const PluginInterface* record;
    uint32_t plugin;
    CandidateFilter filter;
    // With the check stage on, the plug-in is not asked where one of these
    // says that no item can pass its check. Only for plug-ins whose items
    // start at the position asked.
    std::vector<PreCheck> pre_checks;
    // For markhound: its answers where a bounded signature's end search
    // would be repeated (host/scan/signature_answers.h); null for others.
    std::shared_ptr<const SignatureAnswers> answers;
};

// Bytes of the data that one scan task covers when the scan runs on threads.
constexpr uint64_t kDefaultChunkSize = uint64_t{4} << 20;
// Items that one chunk's scan holds at most: past this its worker stops, and
// the joining thread scans the rest of the chunk itself, passing items on as
// it finds them. Dense data thus costs parallelism, never memory per item.
constexpr size_t kMaxFoundPerChunk = 16384;

// What one walk through the data remembers from position to position:
// markhound's end searches and the checkers' forward searches, so that
// data full of false headers costs linear time.
struct WalkMemo {
    SignatureAnswers::Memo answers;
    CheckMemo check;
};

struct ScanOptions {
    bool nested = false;  // ask every position, also inside found items
    uint64_t min_size = 0;
    uint64_t max_size = std::numeric_limits<uint64_t>::max();
    // When given and non-zero, ScanRange returns before the next position.
    const std::atomic<int>* stop = nullptr;
    // Scan threads; the output is that of one thread whatever the number.
    unsigned threads = 1;
    uint64_t chunk_size = kDefaultChunkSize;
    size_t max_found_per_chunk = kMaxFoundPerChunk;
    // The data is a file mapping: pages that the scan has left behind are
    // dropped from memory, so that resident memory stays small.
    bool drop_pages = false;
    // The compiled candidate gates of the detectors' filters
    // (CandidateSearch::MatcherFor), shared by the scans of a run's inputs;
    // null: each scan compiles its own.
    std::shared_ptr<const GateMatcher> matcher;
    // When set, each item is checked against its format (needs the bytes: a
    // scan of MappedData); an item found invalid counts as not found.
    CheckFn check = nullptr;
};

// The part of [offset, offset + size) that lies in data of file_size bytes;
// *truncated when the item reaches past the end (or its end overflows).
uint64_t SizeInFile(uint64_t offset, uint64_t size, uint64_t file_size, bool* truncated);

// Where the scan goes on after an item found at position: behind the item,
// or at position + 1 with nested scanning, for an item of size 0, and for a
// truncated item (a size that runs past the data is more likely a false
// match than a real item, and must not hide the items behind it).
uint64_t NextPosition(uint64_t position, const Item& item, bool nested);

// The number of scan threads when none is asked for: one per core.
unsigned DefaultScanThreads();

// The number of positions between two progress calls.
constexpr uint64_t kProgressStride = uint64_t{1} << 20;

// Positions [begin, end) to scan.
struct ScanSpan {
    uint64_t begin;
    uint64_t end;
};

class Scanner {
public:
    using ItemFn = std::function<void(const Item&)>;
    // Called, on the calling thread and in position order, for each item
    // that a plug-in reported and its checker found invalid.
    using RejectFn = std::function<void(const Item&)>;
    // Called every kProgressStride positions and at the end of a range with
    // the next position to scan and the number of items reported so far.
    using ProgressFn = std::function<void(uint64_t position, uint64_t items)>;

    // A scan through reader, without direct access to the bytes: every
    // plug-in is asked at every position, whatever its filter.
    Scanner(const HostReader* reader, uint64_t size, std::vector<Detector> detectors,
            const ScanOptions& options);
    // A scan of data through hound's reader (MakeReader); each plug-in is
    // asked only where its filter lets it answer yes. When data is a mapped
    // file that shrinks, the scan ends as on a stop request (mapped_file.h).
    Scanner(const MappedData* data, std::vector<Detector> detectors, const ScanOptions& options);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Scans the positions [begin, end); items that start in the range are
    // passed to on_item in position order, on the calling thread. Returns
    // the number of items. A stop request ends the scan early, without a
    // last progress call.
    uint64_t ScanRange(uint64_t begin, uint64_t end, const ItemFn& on_item,
                       const ProgressFn& on_progress) const;
    // Scans spans (in order, apart) as ScanRange does one range, each from
    // its begin or from behind the last item found before it, whichever
    // comes later. Their chunks share one pool of threads, so that many
    // short spans scan as fast as one long range.
    uint64_t ScanSpans(const std::vector<ScanSpan>& spans, const ItemFn& on_item,
                       const ProgressFn& on_progress) const;
    // Where rejected items go (see RejectFn); none by default.
    void OnReject(RejectFn on_reject) { on_reject_ = std::move(on_reject); }
    // After ScanRange(begin, end): walks on from ahead, where that scan went
    // on behind its last item (past end), and from end, where a scan of the
    // range behind starts, until the two reach one position, which it
    // returns (range.cpp). Items of the first walk go to on_item. From that
    // position on, the scan of the range behind finds the same items.
    uint64_t ScanUntilMet(uint64_t ahead, uint64_t end, const ItemFn& on_item) const;

private:
    // Takes an item (or a rejected one, passed on in the same order so that
    // the chunks' results join as the items do), the position at which it
    // was found and the position where the scan goes on behind it; false
    // ends the walk.
    using SinkFn = std::function<bool(const Item& item, uint64_t asked, uint64_t next)>;

    // Scans from position on until it reaches end, as one thread would;
    // returns the position reached (at or beyond end, or where the walk was
    // stopped, with *stopped set).
    uint64_t Walk(uint64_t position, uint64_t end, const SinkFn& sink, bool* stopped) const;
    // Scans [max(*position, begin), end) on the calling thread; *position
    // gets where the scan goes on (at or behind end), or is left where a
    // stop request ended it.
    uint64_t ScanSequential(uint64_t begin, uint64_t end, const ItemFn& on_item,
                            const ProgressFn& on_progress, uint64_t* position) const;
    // The spans in chunks on worker threads, joined in file order (chunked_scan.cpp).
    uint64_t ScanChunks(const std::vector<ScanSpan>& spans, const ItemFn& on_item,
                        const ProgressFn& on_progress) const;
    // One chunk's own scan, on a worker; passed: where the true scan has got to.
    ChunkResult ScanChunk(uint64_t begin, uint64_t end, const std::atomic<uint64_t>& passed) const;
    // The join of one chunk's result up to end, from *position, the true
    // scan's position (moved on). False when the sink ends the scan.
    bool JoinChunk(ChunkResult* result, uint64_t end, const SinkFn& emit, uint64_t* position) const;
    // Asks the plug-ins of mask in order at position; the first accepted yes
    // fills *item. A yes whose item fails its check or the size filters
    // counts as a no; items failing their check go to sink first. False
    // with *stopped when the sink ends the walk.
    bool Ask(uint64_t position, uint64_t mask, const SinkFn& sink, Item* item, bool* stopped,
             WalkMemo* memo) const;
    bool Accept(const FoundItem& found, uint32_t plugin, Item* item, CheckMemo* memo = nullptr) const;
    void Check(Item* item, CheckMemo* memo) const;
    // Passes an item or a rejected item to on_item or on_reject_.
    bool Deliver(const Item& item, const ItemFn& on_item) const;
    bool Stopped() const;
    void DropPages(uint64_t begin, uint64_t end) const;

    HostReader own_reader_{};
    const HostReader* reader_;
    const MappedData* data_ = nullptr;  // null: the bytes are reached only through reader_
    const std::atomic<bool>* shrank_ = nullptr;  // set when data_'s file shrank
    uint64_t size_;
    std::vector<Detector> detectors_;
    ScanOptions options_;
    std::unique_ptr<CandidateSearch> search_;
    RejectFn on_reject_;  // null until OnReject is called
};
