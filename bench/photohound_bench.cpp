// photohound: Detect per position on data without images, and the walk's
// throughput over a large baseline image that cjpeg encodes at start.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/detect_bench.h"
#include "photohound/frame.h"

namespace {

// Detect with its default walk bound; a lambda, so that the call stays direct.
constexpr auto Photohound = [](const HostReader* reader, uint64_t position, FoundItem* item) {
    return Detect(reader, position, item);
};

void BM_PhotohoundDetectNoSoi(benchmark::State& state) {
    static const std::vector<uint8_t> data = DataWithoutSoi(4 << 20);
    DetectEveryPosition(state, data, Photohound);
}
BENCHMARK(BM_PhotohoundDetectNoSoi);

// Mixed data as it comes: random runs hold an FF D8 about every 64 KiB,
// and each starts a walk that fails somewhere in the bytes behind it.
void BM_PhotohoundDetectMixed(benchmark::State& state) {
    static const std::vector<uint8_t> data = MixedData(4 << 20, 7);
    DetectEveryPosition(state, data, Photohound);
}
BENCHMARK(BM_PhotohoundDetectMixed);

void BM_PhotohoundWalk(benchmark::State& state) {
    static const std::vector<uint8_t> image = LargeJpeg("-quality 90");
    WalkWholeImage(state, image, Photohound);
}
BENCHMARK(BM_PhotohoundWalk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
