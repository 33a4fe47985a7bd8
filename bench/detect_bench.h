// The loops that the JPEG plug-in benchmarks share, for any Detect with the
// plug-ins' signature.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_data.h"

// Detect at one position after another, wrapping round at the data's end.
template <typename DetectFn>
void DetectEveryPosition(benchmark::State& state, const std::vector<uint8_t>& data, DetectFn detect) {
    MemoryReader reader(data);
    FoundItem item;
    uint64_t position = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(detect(reader.reader(), position, &item));
        if (++position == data.size()) position = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["ns/position"] = benchmark::Counter(
        static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The walk over one whole image (from LargeJpeg), which must be accepted
// with its exact size.
template <typename DetectFn>
void WalkWholeImage(benchmark::State& state, const std::vector<uint8_t>& image, DetectFn detect) {
    if (image.empty()) {
        state.SkipWithError("cjpeg could not encode the image (install libjpeg-turbo-progs)");
        return;
    }
    MemoryReader reader(image);
    FoundItem item{};
    for (auto _ : state) {
        if (detect(reader.reader(), 0, &item) != 1 || item.size != image.size()) {
            state.SkipWithError("the image was not accepted whole");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
    state.counters["image_bytes"] = static_cast<double>(image.size());
}
