// markhound's Detect per position over mixed data, with 1, 8 and 32 signatures.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_data.h"
#include "markhound/signatures/signature_list.h"

namespace {

void Fill(PatternArray& pattern, std::initializer_list<int> bytes) {
    for (int b : bytes) {
        PatternByte element{1, static_cast<uint8_t>(b)};
        pattern.Add(&element);
    }
}

// Realistic headers: a few sized, a few bounded with a search limit.
void AddSignatures(SignatureList& list, int count) {
    static const std::initializer_list<int> kHeaders[] = {
        {'B', 'M'}, {'R', 'I', 'F', 'F'}, {0x89, 'P', 'N', 'G'}, {'G', 'I', 'F', '8'},
        {'%', 'P', 'D', 'F'}, {'P', 'K', 3, 4}, {'I', 'D', '3'}, {'O', 'g', 'g', 'S'},
        {0x1F, 0x8B, 8}, {'M', 'Z'}, {0x7F, 'E', 'L', 'F'}, {'f', 'L', 'a', 'C'},
        {'8', 'B', 'P', 'S'}, {'I', 'I', '*', 0}, {'M', 'M', 0, '*'}, {'W', 'A', 'V', 'E'}};
    for (int i = 0; i < count; ++i) {
        const auto& header = kHeaders[i % 16];
        if (i % 4 == 3) {
            auto* signature = new BoundedSignature;
            Fill(signature->pattern, header);
            Fill(signature->end_pattern, {'E', 'N', 'D', i});
            signature->limit_size() = 1 << 20;
            list.Append(signature);
        } else {
            auto* signature = new SizedSignature;
            Fill(signature->pattern, header);
            if (i >= 16) Fill(signature->pattern, {i});  // distinct variants
            signature->size_offset = 4;
            signature->size_width = 4;
            list.Append(signature);
        }
    }
}

void BM_MarkhoundDetect(benchmark::State& state) {
    static const std::vector<uint8_t> data = MixedData(4 << 20);
    MemoryReader reader(data);
    SignatureList list;
    AddSignatures(list, static_cast<int>(state.range(0)));
    FoundItem item;
    uint64_t position = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DetectWithList(list, reader.reader(), position, &item));
        if (++position == data.size()) position = 0;
    }
    state.SetItemsProcessed(state.iterations());  // positions
    state.counters["ns/position"] = benchmark::Counter(
        static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MarkhoundDetect)->Arg(1)->Arg(8)->Arg(32);

// The floor that Detect is measured against: one indirect ReadByte per
// signature per position, the least that the matching rules allow.
void BM_ReadFloor(benchmark::State& state) {
    static const std::vector<uint8_t> data = MixedData(4 << 20);
    MemoryReader memory(data);
    const HostReader* reader = memory.reader();
    const int count = static_cast<int>(state.range(0));
    uint64_t position = 0;
    for (auto _ : state) {
        uint32_t sum = 0;
        for (int i = 0; i < count; ++i) sum += reader->ReadByte(reader->context, position);
        benchmark::DoNotOptimize(sum);
        if (++position == data.size()) position = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["ns/position"] = benchmark::Counter(
        static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadFloor)->Arg(1)->Arg(8)->Arg(32);

}  // namespace

BENCHMARK_MAIN();
