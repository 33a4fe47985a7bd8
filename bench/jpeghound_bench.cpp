// jpeghound: Detect per position on data without images, the walk's
// throughput over large baseline and progressive images that cjpeg encodes
// at start, and the items found in random data.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench/detect_bench.h"
#include "jpeghound/frame.h"

namespace {

// Detect with its default walk bound; a lambda, so that the call stays direct.
constexpr auto Jpeghound = [](const HostReader* reader, uint64_t position, FoundItem* item) {
    return jpeghound::Detect(reader, position, item);
};

void BM_JpeghoundDetectNoSoi(benchmark::State& state) {
    static const std::vector<uint8_t> data = DataWithoutSoi(4 << 20);
    DetectEveryPosition(state, data, Jpeghound);
}
BENCHMARK(BM_JpeghoundDetectNoSoi);

void BM_JpeghoundDetectMixed(benchmark::State& state) {
    static const std::vector<uint8_t> data = MixedData(4 << 20, 7);
    DetectEveryPosition(state, data, Jpeghound);
}
BENCHMARK(BM_JpeghoundDetectMixed);

void BM_JpeghoundWalk(benchmark::State& state) {
    static const std::vector<uint8_t> image = LargeJpeg("-quality 90");
    WalkWholeImage(state, image, Jpeghound);
}
BENCHMARK(BM_JpeghoundWalk)->Unit(benchmark::kMillisecond);

void BM_JpeghoundWalkProgressive(benchmark::State& state) {
    static const std::vector<uint8_t> image = LargeJpeg("-quality 90 -progressive");
    WalkWholeImage(state, image, Jpeghound);
}
BENCHMARK(BM_JpeghoundWalkProgressive)->Unit(benchmark::kMillisecond);

// Detect at every position of random data, 64 MiB per iteration from one
// generator: items counts what it accepted (the target is none at all).
void BM_JpeghoundRandomData(benchmark::State& state) {
    std::mt19937_64 random(2024);
    std::vector<uint8_t> data(64 << 20);
    uint64_t items = 0, bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < data.size(); i += 8) {
            const uint64_t word = random();
            for (int k = 0; k < 8; ++k) data[i + k] = static_cast<uint8_t>(word >> (8 * k));
        }
        state.ResumeTiming();
        MemoryReader reader(data);
        FoundItem item;
        for (uint64_t position = 0; position < data.size(); ++position) {
            items += jpeghound::Detect(reader.reader(), position, &item);
        }
        bytes += data.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["items"] = static_cast<double>(items);
    state.counters["MiB_scanned"] = static_cast<double>(bytes >> 20);
}
// 16 iterations: 1 GiB.
BENCHMARK(BM_JpeghoundRandomData)->Iterations(16)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
