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
#include <mutex>
#include <thread>
#include <vector>

#include "host/scan/chunk_join.h"
#include "host/scan/scan.h"

namespace {

struct ChunkResult {
    std::vector<ChunkFound> found;
    uint64_t end_position = 0;  // where the chunk's scan stopped, at or behind its end
    bool skipped = false;       // not scanned: the true scan had already passed it
    bool stopped = false;
    bool ready = false;
};

// How often the joining thread, while it waits, drops the pages that a
// plug-in read far ahead of the chunks in work.
constexpr auto kDropInterval = std::chrono::milliseconds(50);

}  // namespace

uint64_t Scanner::ScanChunks(uint64_t begin, uint64_t end, const ItemFn& on_item,
                             const ProgressFn& on_progress) const {
    const uint64_t chunk_size = std::max<uint64_t>(options_.chunk_size, 1);
    const uint64_t chunks = (end - begin - 1) / chunk_size + 1;
    const unsigned workers =
        static_cast<unsigned>(std::min<uint64_t>(std::max(options_.threads, 1u), chunks));
    // Chunks scanned ahead of the join at most: bounds the memory held.
    const uint64_t window = workers + 2;
    auto chunk_begin = [&](uint64_t k) { return begin + k * chunk_size; };
    auto chunk_end = [&](uint64_t k) { return std::min(end, begin + (k + 1) * chunk_size); };

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<ChunkResult> ring(window);
    uint64_t taken = 0;   // chunks handed to workers
    uint64_t joined = 0;  // chunks joined; their slots are free again
    bool abort = false;
    std::exception_ptr failure;
    // Where the true scan has got to: chunks wholly before it, behind a
    // large item, are not worth scanning.
    std::atomic<uint64_t> passed{begin};

    auto work = [&] {
        for (;;) {
            uint64_t k;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return abort || taken >= chunks || taken < joined + window; });
                if (abort || taken >= chunks) return;
                k = taken++;
            }
            ChunkResult result;
            try {
                bool full = false;
                const SinkFn keep = [&](const Item& item, uint64_t asked, uint64_t next) {
                    result.found.push_back({item, asked, next});
                    full = result.found.size() >= std::max<size_t>(options_.max_found_per_chunk, 1);
                    return !full;
                };
                const uint64_t e = chunk_end(k);
                uint64_t position = chunk_begin(k);
                while (position < e && !result.stopped && !full) {
                    if (passed.load(std::memory_order_relaxed) >= e) {
                        result.skipped = true;
                        break;
                    }
                    const uint64_t stride_end = std::min(e, position + kProgressStride);
                    position = Walk(position, stride_end, keep, &result.stopped);
                }
                // A full sink ends the walk as a stop would; the chunk then ends early.
                if (full) result.stopped = false;
                result.end_position = position;
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!failure) failure = std::current_exception();
                abort = true;
                result.stopped = true;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                result.ready = true;
                ring[k % window] = std::move(result);
            }
            changed.notify_all();
        }
    };

    std::vector<std::thread> threads;
    // Stops and joins the workers on every way out, exceptions included.
    struct Joiner {
        std::vector<std::thread>& threads;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& abort;
        ~Joiner() {
            {
                std::lock_guard<std::mutex> lock(mutex);
                abort = true;
            }
            changed.notify_all();
            for (std::thread& thread : threads) thread.join();
        }
    } joiner{threads, mutex, changed, abort};
    for (unsigned i = 0; i < workers; ++i) threads.emplace_back(work);

    uint64_t items = 0;
    bool stopped = false;
    const SinkFn emit = [&](const Item& item, uint64_t, uint64_t) {
        if (Stopped()) return false;
        items += Deliver(item, on_item);
        return true;
    };
    uint64_t position = begin;  // where the true scan goes on
    for (uint64_t k = 0; k < chunks; ++k) {
        ChunkResult result;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ChunkResult& slot = ring[k % window];
            while (!slot.ready && !abort) {
                if (changed.wait_for(lock, kDropInterval) == std::cv_status::timeout) {
                    const uint64_t ahead = chunk_begin(std::min(taken, chunks));
                    lock.unlock();
                    DropPages(ahead, size_);
                    lock.lock();
                }
            }
            if (failure) std::rethrow_exception(failure);
            result = std::move(slot);
            slot = ChunkResult();
            joined = k + 1;
        }
        changed.notify_all();
        if (result.stopped || Stopped()) return items;

        const uint64_t e = chunk_end(k);
        if (result.skipped && position < e) {
            // Not expected (a chunk is skipped only behind the true scan), but
            // a chunk without results is scanned here in full.
            result.found.clear();
            result.end_position = Walk(position, e, emit, &stopped);
            if (stopped) return items;
            position = result.end_position;
        }
        while (position < e) {
            const JoinStep step = NextJoinStep(position, e, result.found, result.end_position);
            if (step.walk) {
                position = Walk(position, step.walk_to, emit, &stopped);
                if (stopped) return items;
                continue;
            }
            for (size_t i = step.first; i < result.found.size(); ++i) {
                const ChunkFound& found = result.found[i];
                if (!emit(found.item, found.asked, found.next)) return items;
            }
            position = result.end_position;
        }
        passed.store(position, std::memory_order_relaxed);
        DropPages(chunk_begin(k), e);
        if (on_progress) on_progress(std::min(position, end), items);
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
