// Runs jpeghound's Detect over a FakeReader and keeps what a test asserts on.
#pragma once
#include <cstdint>
#include <map>

#include "jpeghound/frame.h"
#include "tests/fakes/fake_reader.h"
#include "tests/jpeg/jpeg_bytes.h"

struct StrictRun {
    uint32_t answer;
    jpeghound::JpegReject reason;
    FoundItem item;  // starts as PoisonedItem()
};

// data served at base, Detect asked at position; the host's FF C4 past the data.
inline StrictRun RunStrict(const Bytes& data, uint64_t base, uint64_t position,
                           uint64_t max_walk_bytes = jpeghound::kMaxWalkBytes) {
    FakeReader reader(data, base, {0xFF, 0xC4});
    StrictRun run{0, jpeghound::JpegReject::kAccepted, PoisonedItem()};
    run.answer = jpeghound::Detect(reader.reader(), position, &run.item, max_walk_bytes, &run.reason);
    return run;
}

// Every position of data at which Detect answers 1, with the sizes.
inline std::map<uint64_t, uint64_t> FindAllStrict(const Bytes& data) {
    FakeReader reader(data, 0, {0xFF, 0xC4});
    std::map<uint64_t, uint64_t> found;
    for (uint64_t at = 0; at < data.size(); ++at) {
        FoundItem item = PoisonedItem();
        if (jpeghound::Detect(reader.reader(), at, &item) == 1) found[item.offset] = item.size;
        reader.ClearCalls();
    }
    return found;
}
