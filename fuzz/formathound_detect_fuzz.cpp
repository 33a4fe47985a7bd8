// Fuzz target: formathound's Detect over input data. Checks what a host
// relies on: blocks only inside the data, no ReadByte, the same answer
// whatever lies past the data, an accepted item that starts at the position
// and ends inside the data, and an untouched item on a no.
#include <cstdint>
#include <vector>

#include "formathound/detect.h"
#include "formathound/source.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckCalls(const RecordingReader& reader, uint64_t position) {
    for (const RecordingReader::Call& call : reader.calls()) {
        FUZZ_CHECK(call.kind != RecordingReader::Kind::kReadByte);
        if (call.kind != RecordingReader::Kind::kReadBlock) continue;
        FUZZ_CHECK(call.count >= 1 && call.count <= formathound::kWindowBytes);
        FUZZ_CHECK(call.position >= position && call.position < reader.length() &&
                   call.count <= reader.length() - call.position);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    uint64_t base = PickBase(input.Byte());
    const uint8_t start = input.Byte();
    const uint64_t served = input.RestSize();
    if (base > UINT64_MAX - served) base = UINT64_MAX - served;  // the data fits below 2^64
    const uint64_t position = base + start % (served + 1);
    const uint64_t length = base + served;

    RecordingReader host(input.Rest(), served, base, {0x47, 0xFF, 0x00}, length, 0);
    FoundItem first = PoisonedItem();
    const uint32_t answer = formathound::Detect(host.reader(), position, &first);
    CheckCalls(host, position);
    RecordingReader zeros(input.Rest(), served, base, {}, length, 0);
    FoundItem second = PoisonedItem();
    FUZZ_CHECK(formathound::Detect(zeros.reader(), position, &second) == answer);

    if (answer == 0) {
        FUZZ_CHECK(SameBytes(first, PoisonedItem()));
        return 0;
    }
    FUZZ_CHECK(answer == 1);
    FUZZ_CHECK(first.offset == position && first.size >= 1 && first.size <= length - position);
    FUZZ_CHECK(second.size == first.size && second.extension == first.extension);
    FUZZ_CHECK(first.extension != nullptr && first.extension[0] != '\0' && first.description != nullptr);
    return 0;
}
