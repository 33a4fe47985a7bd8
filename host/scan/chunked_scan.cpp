// The scan on worker threads: the range is cut into chunks, each chunk is
// scanned on its own from its first position, and the results are joined in
// file order into exactly what one thread scanning the whole range finds.
//
// Joining chunk k: the scan of the chunks before it ends at some position E
// (at or behind the chunk's start; behind it when an item runs into the
// chunk). Chunk k's own scan asked every position of the chunk but those it
// jumped over behind its items. From the first position at or after E that
// it asked, both scans go the same way, so its items from there on are the
// true ones. When E lies in one of its jumps, the positions from E up to the
// end of that jump are scanned again here, until the two scans meet.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "host/scan/chunk_join.h"
#include "host/scan/scan.h"

namespace {

// How often the joining thread, while it waits, drops the pages that a
// plug-in read far ahead of the chunks in work.
constexpr auto kDropInterval = std::chrono::milliseconds(50);

// Chunks 0 to chunks - 1 scanned by worker threads in a ring of slots: a
// worker takes the next chunk while it is fewer than the ring's size ahead
// of the chunk the caller takes last; the caller takes the results in order.
class ChunkPool {
public:
    using ScanFn = std::function<ChunkResult(uint64_t chunk)>;

    ChunkPool(uint64_t chunks, unsigned workers, ScanFn scan)
        : chunks_(chunks), ring_(workers + 2), scan_(std::move(scan)) {
        for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
    }

    // Stops and joins the workers on every way out, exceptions included.
    ~ChunkPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            abort_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }

    ChunkPool(const ChunkPool&) = delete;
    ChunkPool& operator=(const ChunkPool&) = delete;

    // The result of chunk k, the next in order, once it is ready; while it is
    // not, idle(first chunk not yet handed out) every kDropInterval. A
    // worker's exception is thrown here.
    ChunkResult Take(uint64_t k, const std::function<void(uint64_t untaken)>& idle) {
        ChunkResult result;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ChunkResult& slot = ring_[k % ring_.size()];
            while (!slot.ready && !abort_) {
                if (changed_.wait_for(lock, kDropInterval) == std::cv_status::timeout) {
                    const uint64_t untaken = std::min(taken_, chunks_);
                    lock.unlock();
                    idle(untaken);
                    lock.lock();
                }
            }
            if (failure_) std::rethrow_exception(failure_);
            result = std::move(slot);
            slot = ChunkResult();
            joined_ = k + 1;
        }
        changed_.notify_all();
        return result;
    }

private:
    void Work() {
        for (;;) {
            uint64_t k;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return abort_ || taken_ >= chunks_ || taken_ < joined_ + ring_.size(); });
                if (abort_ || taken_ >= chunks_) return;
                k = taken_++;
            }
            ChunkResult result;
            try {
                result = scan_(k);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!failure_) failure_ = std::current_exception();
                abort_ = true;
                result.stopped = true;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                result.ready = true;
                ring_[k % ring_.size()] = std::move(result);
            }
            changed_.notify_all();
        }
    }

    const uint64_t chunks_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ChunkResult> ring_;  // bounds the chunks held ahead of the join
    uint64_t taken_ = 0;   // chunks handed to workers
    uint64_t joined_ = 0;  // chunks taken by the caller; their slots are free again
    bool abort_ = false;
    std::exception_ptr failure_;
    ScanFn scan_;
    std::vector<std::thread> threads_;  // last: started after the rest is set up
};

}  // namespace

ChunkResult Scanner::ScanChunk(uint64_t begin, uint64_t end, const std::atomic<uint64_t>& passed) const {
    ChunkResult result;
    bool full = false;
    const SinkFn keep = [&](const Item& item, uint64_t asked, uint64_t next) {
        result.found.push_back({item, asked, next});
        full = result.found.size() >= std::max<size_t>(options_.max_found_per_chunk, 1);
        return !full;
    };
    uint64_t position = begin;
    while (position < end && !result.stopped && !full) {
        // Chunks wholly behind the true scan (behind a large item) are not worth scanning.
        if (passed.load(std::memory_order_relaxed) >= end) {
            result.skipped = true;
            break;
        }
        position = Walk(position, std::min(end, position + kProgressStride), keep, &result.stopped);
    }
    // A full sink ends the walk as a stop would; the chunk then ends early.
    if (full) result.stopped = false;
    result.end_position = position;
    return result;
}

bool Scanner::JoinChunk(ChunkResult* result, uint64_t end, const SinkFn& emit, uint64_t* position) const {
    bool stopped = false;
    if (result->skipped && *position < end) {
        // Not expected (a chunk is skipped only behind the true scan), but
        // a chunk without results is scanned here in full.
        result->found.clear();
        result->end_position = Walk(*position, end, emit, &stopped);
        if (stopped) return false;
        *position = result->end_position;
    }
    while (*position < end) {
        const JoinStep step = NextJoinStep(*position, end, result->found, result->end_position);
        if (step.walk) {
            *position = Walk(*position, step.walk_to, emit, &stopped);
            if (stopped) return false;
            continue;
        }
        for (size_t i = step.first; i < result->found.size(); ++i) {
            const ChunkFound& found = result->found[i];
            if (!emit(found.item, found.asked, found.next)) return false;
        }
        *position = result->end_position;
    }
    return true;
}

uint64_t Scanner::ScanChunks(const std::vector<ScanSpan>& spans, const ItemFn& on_item,
                             const ProgressFn& on_progress) const {
    // Each span in chunks of chunk_size or less; a span's first chunk marks
    // where the true scan starts again if it is behind.
    struct Chunk {
        uint64_t begin, end;
        bool first;
    };
    const uint64_t chunk_size = std::max<uint64_t>(options_.chunk_size, 1);
    std::vector<Chunk> chunks;
    for (const ScanSpan& span : spans) {
        for (uint64_t at = span.begin; at < span.end; at += std::min(chunk_size, span.end - at)) {
            chunks.push_back({at, std::min(span.end, at + chunk_size), at == span.begin});
        }
    }
    if (chunks.empty()) return 0;
    const unsigned workers =
        static_cast<unsigned>(std::min<uint64_t>(std::max(options_.threads, 1u), chunks.size()));
    // Where the true scan has got to, for the workers to skip chunks behind it.
    std::atomic<uint64_t> passed{chunks.front().begin};
    ChunkPool pool(chunks.size(), workers,
                   [&](uint64_t k) { return ScanChunk(chunks[k].begin, chunks[k].end, passed); });

    uint64_t items = 0;
    const SinkFn emit = [&](const Item& item, uint64_t, uint64_t) {
        if (Stopped()) return false;
        items += Deliver(item, on_item);
        return true;
    };
    uint64_t position = chunks.front().begin;  // where the true scan goes on
    for (uint64_t k = 0; k < chunks.size(); ++k) {
        ChunkResult result = pool.Take(k, [&](uint64_t untaken) {
            if (untaken < chunks.size()) DropPages(chunks[untaken].begin, size_);
        });
        if (result.stopped || Stopped()) return items;
        const Chunk& chunk = chunks[k];
        if (chunk.first) position = std::max(position, chunk.begin);
        if (!JoinChunk(&result, chunk.end, emit, &position)) return items;
        passed.store(position, std::memory_order_relaxed);
        DropPages(chunk.begin, chunk.end);
        if (on_progress) on_progress(std::min(position, chunk.end), items);
    }
    return items;
}

JoinStep NextJoinStep(uint64_t position, uint64_t chunk_end, const std::vector<ChunkFound>& found,
                      uint64_t end_position) {
    const auto at = std::partition_point(found.begin(), found.end(),
                                         [&](const ChunkFound& f) { return f.asked < position; });
    const size_t first = static_cast<size_t>(at - found.begin());
    // Inside a jump of the chunk's scan: that scan did not ask here.
    if (first > 0 && found[first - 1].next > position) {
        return {true, std::min(found[first - 1].next, chunk_end), 0};
    }
    // The chunk's scan ended early, its items held in full, before getting here.
    if (position >= end_position) return {true, chunk_end, 0};
    return {false, 0, first};
}
