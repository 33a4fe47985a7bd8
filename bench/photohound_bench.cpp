// photohound: Detect per position on data without images, and the walk's
// throughput over a large baseline image that cjpeg encodes at start.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_data.h"
#include "frame.h"

namespace {

void ReportPositions(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());
    state.counters["ns/position"] = benchmark::Counter(
        static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Detect at one position after another, wrapping round at the data's end.
void DetectEveryPosition(benchmark::State& state, const std::vector<uint8_t>& data) {
    MemoryReader reader(data);
    FoundItem item;
    uint64_t position = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Detect(reader.reader(), position, &item));
        if (++position == data.size()) position = 0;
    }
    ReportPositions(state);
}

void BM_PhotohoundDetectNoSoi(benchmark::State& state) {
    static const std::vector<uint8_t> data = DataWithoutSoi(4 << 20);
    DetectEveryPosition(state, data);
}
BENCHMARK(BM_PhotohoundDetectNoSoi);

// Mixed data as it comes: random runs hold an FF D8 about every 64 KiB,
// and each starts a walk that fails somewhere in the bytes behind it.
void BM_PhotohoundDetectMixed(benchmark::State& state) {
    static const std::vector<uint8_t> data = MixedData(4 << 20, 7);
    DetectEveryPosition(state, data);
}
BENCHMARK(BM_PhotohoundDetectMixed);

void BM_PhotohoundWalk(benchmark::State& state) {
    static const std::vector<uint8_t> image = LargeJpeg("-quality 90");
    if (image.empty()) {
        state.SkipWithError("cjpeg could not encode the image (install libjpeg-turbo-progs)");
        return;
    }
    MemoryReader reader(image);
    FoundItem item{};
    for (auto _ : state) {
        if (Detect(reader.reader(), 0, &item) != 1 || item.size != image.size()) {
            state.SkipWithError("the image was not accepted whole");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
    state.counters["image_bytes"] = static_cast<double>(image.size());
}
BENCHMARK(BM_PhotohoundWalk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
