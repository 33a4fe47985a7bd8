// The scan loop: asks the plug-ins position by position and collects items.
#include "host/scan/scan.h"

#include <algorithm>
#include <thread>

#include "host/base/mapped_file.h"
#include "host/scan/candidates.h"

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

Scanner::Scanner(const HostReader* reader, uint64_t size, std::vector<Detector> detectors,
                 const ScanOptions& options)
    : reader_(reader), size_(size), detectors_(std::move(detectors)), options_(options) {
    options_.drop_pages = false;  // the bytes are not known to be a mapping
}

Scanner::Scanner(const MappedData* data, std::vector<Detector> detectors, const ScanOptions& options)
    : own_reader_(MakeReader(data)), reader_(&own_reader_), data_(data), size_(data->size),
      detectors_(std::move(detectors)), options_(options) {
    if (data->file != nullptr) shrank_ = &data->file->shrank_flag();
    std::vector<CandidateFilter> filters;
    bool any_filter = false;
    for (const Detector& detector : detectors_) {
        filters.push_back(detector.filter);
        any_filter = any_filter || !detector.filter.everywhere;
    }
    // Without a filter every position is asked of every plug-in, as through
    // the reader alone.
    if (any_filter) search_ = std::make_unique<CandidateSearch>(data, filters, true, options_.matcher);
}

Scanner::~Scanner() = default;

namespace {

bool MayStart(const Detector& detector, CheckBytes bytes) {
    for (const PreCheck& pre_check : detector.pre_checks) {
        if (!pre_check.may_start(pre_check.format, bytes)) return false;
    }
    return true;
}

}  // namespace

bool Scanner::Accept(const FoundItem& found, uint32_t plugin, Item* item, CheckMemo* memo) const {
    item->offset = found.offset;
    item->size = found.size;
    item->plugin_size = found.size;
    item->size_in_file = SizeInFile(found.offset, found.size, size_, &item->truncated);
    item->extension = found.extension != nullptr ? found.extension : "";
    item->description = found.description != nullptr ? found.description : "";
    item->plugin = plugin;
    item->check = CheckState::kOff;
    item->check_format = kNoFormat;
    item->check_reason = 0;
    if (options_.check != nullptr && data_ != nullptr) Check(item, memo);
    if (item->check == CheckState::kInvalid) return false;
    // The size filters apply to the size reported: the checked one.
    return item->size >= options_.min_size && item->size <= options_.max_size;
}

void Scanner::Check(Item* item, CheckMemo* memo) const {
    if (item->offset >= size_) {
        item->check = CheckState::kUnchecked;
        return;
    }
    const CheckResult result = options_.check(
        {data_->bytes + item->offset, size_ - item->offset, memo, item->extension.c_str()});
    item->check = result.state;
    item->check_format = result.format;
    item->check_reason = result.reason;
    if (result.state != CheckState::kValid) return;
    if (result.end > 0) {
        item->size = result.end;
        item->size_in_file = SizeInFile(item->offset, item->size, size_, &item->truncated);
    }
    if (result.extension != nullptr) item->extension = result.extension;
    if (result.description != nullptr) item->description = result.description;
}

bool Scanner::Deliver(const Item& item, const ItemFn& on_item) const {
    if (item.check == CheckState::kInvalid) {
        if (on_reject_) on_reject_(item);
        return false;
    }
    on_item(item);
    return true;
}

bool Scanner::Stopped() const {
    return (options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed) != 0) ||
           (shrank_ != nullptr && shrank_->load(std::memory_order_relaxed));
}

bool Scanner::Ask(uint64_t position, uint64_t mask, const SinkFn& sink, Item* item, bool* stopped,
                  WalkMemo* memo) const {
    const bool check = options_.check != nullptr && data_ != nullptr;
    const size_t count = detectors_.size();
    for (size_t i = 0; i < count; ++i) {
        if (i < kMaskedDetectors && (mask >> i & 1) == 0) continue;
        const Detector& detector = detectors_[i];
        if (check && !MayStart(detector, {data_->bytes + position, size_ - position})) continue;
        FoundItem found = {position, 0, nullptr, nullptr};
        const bool answered = detector.answers != nullptr && data_ != nullptr &&
                              detector.answers->Answer(*data_, position, &memo->answers, &found);
        if (!answered && detector.record->Detect(0, reader_, position, &found) == 0) continue;
        if (Accept(found, detector.plugin, item, &memo->check)) return true;
        if (item->check == CheckState::kInvalid && !sink(*item, position, position + 1)) {
            *stopped = true;
            return false;
        }
    }
    return false;
}

uint64_t Scanner::Walk(uint64_t position, uint64_t end, const SinkFn& sink, bool* stopped) const {
    constexpr uint64_t kAll = ~uint64_t{0};
    Item item;
    WalkMemo memo;
    while (position < end) {
        if (Stopped()) {
            *stopped = true;
            return position;
        }
        uint64_t mask = kAll;
        if (search_ != nullptr) {
            // The positions in between are ones where no plug-in may answer
            // yes: asking them would only give noes.
            position = search_->Next(position, end, &mask);
            if (position >= end) break;
        }
        if (!Ask(position, mask, sink, &item, stopped, &memo)) {
            if (*stopped) return position;
            ++position;
            continue;
        }
        const uint64_t next = NextPosition(position, item, options_.nested);
        if (!sink(item, position, next)) {
            *stopped = true;
            return next;
        }
        position = next;
    }
    return position;
}

void Scanner::DropPages(uint64_t begin, uint64_t end) const {
    if (options_.drop_pages && data_ != nullptr) DropMappedPages(*data_, begin, end);
}

unsigned DefaultScanThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

uint64_t Scanner::ScanSequential(uint64_t begin, uint64_t end, const ItemFn& on_item,
                                 const ProgressFn& on_progress, uint64_t* position) const {
    uint64_t items = 0;
    const SinkFn sink = [&](const Item& item, uint64_t, uint64_t) {
        items += Deliver(item, on_item);
        return true;
    };
    *position = std::max(*position, begin);
    while (*position < end) {
        // Progress is reported between strides, never per position.
        const uint64_t stride_end = end - *position > kProgressStride ? *position + kProgressStride : end;
        bool stopped = false;
        const uint64_t stride_begin = *position;
        const uint64_t reached = Walk(*position, stride_end, sink, &stopped);
        if (stopped) return items;
        *position = reached;
        DropPages(stride_begin, std::min(reached, end));
        if (on_progress) on_progress(std::min(reached, end), items);
    }
    return items;
}

uint64_t Scanner::ScanRange(uint64_t begin, uint64_t end, const ItemFn& on_item,
                            const ProgressFn& on_progress) const {
    return ScanSpans({{begin, end}}, on_item, on_progress);
}

uint64_t Scanner::ScanSpans(const std::vector<ScanSpan>& spans, const ItemFn& on_item,
                            const ProgressFn& on_progress) const {
    uint64_t total = 0;
    for (const ScanSpan& span : spans) total += span.end > span.begin ? span.end - span.begin : 0;
    if (total == 0) return 0;
    if ((options_.threads > 1 || options_.drop_pages) && total > options_.chunk_size) {
        return ScanChunks(spans, on_item, on_progress);
    }
    uint64_t items = 0;
    uint64_t position = 0;
    for (const ScanSpan& span : spans) {
        if (position >= span.end) continue;
        items += ScanSequential(span.begin, span.end, on_item, on_progress, &position);
        if (position < span.end || Stopped()) break;  // stopped
    }
    return items;
}
