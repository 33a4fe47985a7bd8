// Runs Detect over a FakeReader and keeps what a test asserts on.
#pragma once
#include <cstdint>
#include <vector>

#include "photohound/frame.h"
#include "tests/fakes/fake_reader.h"
#include "tests/jpeg/jpeg_bytes.h"

// Small enough that a walk running past its data ends at once in a test.
constexpr uint64_t kTestWalkBytes = 1 << 16;

struct DetectRun {
    uint32_t answer;
    FoundItem item;               // starts as PoisonedItem()
    std::vector<uint64_t> reads;  // ReadByte positions, in call order
    size_t other_calls;           // ReadBlock and GetSize calls
};

// data served at base; Detect asked at position; zeros past the data.
inline DetectRun RunDetect(const Bytes& data, uint64_t base, uint64_t position,
                           uint64_t max_walk_bytes = kTestWalkBytes) {
    FakeReader reader(data, base);
    DetectRun run{0, PoisonedItem(), {}, 0};
    run.answer = Detect(reader.reader(), position, &run.item, max_walk_bytes);
    run.reads = reader.BytePositions();
    run.other_calls = reader.Count(FakeReader::Kind::ReadBlock) +
                      reader.Count(FakeReader::Kind::GetSize);
    return run;
}
inline DetectRun RunDetect(const Bytes& data) { return RunDetect(data, 0, 0); }

// count consecutive positions from first.
inline std::vector<uint64_t> Positions(uint64_t first, uint64_t count) {
    std::vector<uint64_t> positions;
    for (uint64_t i = 0; i < count; ++i) positions.push_back(first + i);
    return positions;
}
