// The candidate search alone over 64 MiB of mixed data: the default library
// with the JPEG plug-ins' filter, the default order's filters, and 10 and
// 1,000 random signatures, with Hyperscan and with the plain search. Bytes
// per second per core.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "host/scan/candidates.h"
#include "host/scan/filters.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"

namespace {

const std::vector<uint8_t>& Data() {
    static const std::vector<uint8_t> data = MixedData(64u << 20);
    return data;
}

// The default signature library as markhound loads it, beside the JPEG filter.
std::vector<CandidateFilter> LibraryFilters() {
    std::string path = std::string("Z:") + HOUND_SIGNS_DIR + "/signs.ini";
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    SignatureList list;
    LoadSignatureFile(path.c_str(), list);
    return {JpegFilter(), SignatureFilter(list)};
}

// The default order's filters: the strict JPEG plug-in, formathound's
// magics and the default signature library.
std::vector<CandidateFilter> DefaultOrderFilters() {
    std::vector<CandidateFilter> filters = LibraryFilters();
    filters[0] = StrictJpegFilter();
    filters.insert(filters.begin() + 1, FormatMagicFilter());
    return filters;
}

// count sized signatures with random 4-byte headers, a quarter of them led
// by a wildcard.
std::vector<CandidateFilter> RandomFilters(int count) {
    std::mt19937 random(3);
    SignatureList list;
    for (int i = 0; i < count; ++i) {
        auto* signature = new SizedSignature;
        const bool wildcard_first = i % 4 == 3;
        for (int b = 0; b < 4; ++b) {
            PatternByte element{static_cast<uint8_t>(wildcard_first && b == 0 ? 0 : 1),
                                static_cast<uint8_t>(random())};
            signature->pattern.Add(&element);
        }
        signature->size_offset = 4;
        signature->size_width = 4;
        list.Append(signature);
    }
    return {JpegFilter(), SignatureFilter(list)};
}

void Search(benchmark::State& state, const std::vector<CandidateFilter>& filters) {
    const std::vector<uint8_t>& bytes = Data();
    const MappedData data = {bytes.data(), bytes.size()};
    const CandidateSearch search(&data, filters, state.range(0) != 0);
    if (state.range(0) != 0 && !search.uses_matcher()) {
        state.SkipWithError("Hyperscan is not built in or cannot run here");
        return;
    }
    uint64_t candidates = 0;
    for (auto _ : state) {
        candidates = 0;
        DetectorMask mask = 0;
        for (uint64_t p = search.Next(0, data.size, &mask); p < data.size;
             p = search.Next(p + 1, data.size, &mask)) {
            ++candidates;
        }
        benchmark::DoNotOptimize(candidates);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size));
    state.counters["candidates"] = static_cast<double>(candidates);
}

void BM_CandidateSearchLibrary(benchmark::State& state) {
    static const std::vector<CandidateFilter> filters = LibraryFilters();
    Search(state, filters);
}
void BM_CandidateSearchDefaultOrder(benchmark::State& state) {
    static const std::vector<CandidateFilter> filters = DefaultOrderFilters();
    Search(state, filters);
}
void BM_CandidateSearch10(benchmark::State& state) {
    static const std::vector<CandidateFilter> filters = RandomFilters(10);
    Search(state, filters);
}
void BM_CandidateSearch1000(benchmark::State& state) {
    static const std::vector<CandidateFilter> filters = RandomFilters(1000);
    Search(state, filters);
}

// Argument: 1 Hyperscan, 0 the plain search. The plain search with 1,000
// signatures takes minutes per pass (about 1 MB/s): left out.
BENCHMARK(BM_CandidateSearchLibrary)->ArgName("hyperscan")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CandidateSearchDefaultOrder)->ArgName("hyperscan")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CandidateSearch10)->ArgName("hyperscan")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CandidateSearch1000)->ArgName("hyperscan")->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
