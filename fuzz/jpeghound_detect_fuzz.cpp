// Fuzz target: jpeghound's Detect over input data. Checks what a host relies
// on: only the three gate bytes through ReadByte, blocks only inside the
// data and the walk bound, the same answer whatever lies past the data, an
// accepted span that ends with EOI and is found again under a bound of its
// own size but not one byte less, and an untouched item on a no.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "jpeghound/frame.h"

namespace {

using jpeghound::JpegReject;

struct Answer {
    uint32_t answer;
    JpegReject reason;
    FoundItem item;
};

Answer Ask(RecordingReader& reader, uint64_t position, uint64_t bound) {
    Answer answer{0, JpegReject::kAccepted, PoisonedItem()};
    answer.answer = jpeghound::Detect(reader.reader(), position, &answer.item, bound, &answer.reason);
    return answer;
}

void CheckCalls(const RecordingReader& reader, uint64_t position, uint64_t bound) {
    const uint64_t bound_end = position > UINT64_MAX - bound ? UINT64_MAX : position + bound;
    const uint64_t end = reader.length() < bound_end ? reader.length() : bound_end;
    size_t byte_reads = 0, sizes = 0;
    uint64_t last_block = 0;
    for (const RecordingReader::Call& call : reader.calls()) {
        switch (call.kind) {
            case RecordingReader::Kind::kReadByte:
                // The gate: position, position + 1, position + 2, before anything else.
                FUZZ_CHECK(sizes == 0 && call.position == position + byte_reads);
                ++byte_reads;
                FUZZ_CHECK(byte_reads <= 3);
                break;
            case RecordingReader::Kind::kGetSize:
                FUZZ_CHECK(byte_reads == 3 && ++sizes == 1);
                break;
            case RecordingReader::Kind::kReadBlock:
                FUZZ_CHECK(sizes == 1 && call.count >= 1 && call.count <= jpeghound::kBufferBytes);
                FUZZ_CHECK(call.position >= position + 3 && call.position >= last_block);
                FUZZ_CHECK(call.position < end && call.count <= end - call.position);
                last_block = call.position;
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    uint64_t base = PickBase(input.Byte());
    const uint8_t start = input.Byte();
    const uint8_t bound_choice = input.Byte();
    const uint64_t served = input.RestSize();
    if (base > UINT64_MAX - served) base = UINT64_MAX - served;  // the data fits below 2^64
    const uint64_t position = base + start % (served + 1);
    const uint64_t length = base + served;
    const uint64_t bound = bound_choice < 32 ? bound_choice : jpeghound::kMaxWalkBytes;

    RecordingReader host(input.Rest(), served, base, {0xFF, 0xC4}, length, 0);
    const Answer first = Ask(host, position, bound);
    CheckCalls(host, position, bound);
    // Past the data the walk reads nothing: another fill answers the same
    // (the gate's ReadByte calls may see the fill, and then say so).
    RecordingReader zeros(input.Rest(), served, base, {}, length, 0);
    const Answer second = Ask(zeros, position, bound);
    FUZZ_CHECK(second.answer == first.answer);
    FUZZ_CHECK(second.reason == first.reason || length - position < 3);

    if (first.answer == 0) {
        FUZZ_CHECK(first.reason != JpegReject::kAccepted);
        FUZZ_CHECK(SameBytes(first.item, PoisonedItem()));
        return 0;
    }
    const FoundItem& item = first.item;
    FUZZ_CHECK(first.reason == JpegReject::kAccepted);
    FUZZ_CHECK(item.offset == position && item.size >= 4 && item.size <= length - position);
    FUZZ_CHECK(item.extension == jpeghound::kJpegExtension &&
               item.description == jpeghound::kJpegDescription);
    FUZZ_CHECK(host.ByteAt(position + item.size - 2) == 0xFF &&
               host.ByteAt(position + item.size - 1) == 0xD9);
    RecordingReader again(input.Rest(), served, base, {0xFF, 0xC4}, length, 0);
    const Answer exact = Ask(again, position, item.size);
    FUZZ_CHECK(exact.answer == 1 && exact.item.size == item.size);
    RecordingReader shorter(input.Rest(), served, base, {0xFF, 0xC4}, length, 0);
    FUZZ_CHECK(Ask(shorter, position, item.size - 1).reason == JpegReject::kWalkBound);
    return 0;
}
