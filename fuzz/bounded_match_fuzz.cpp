// Fuzz target: BoundedSignature::Match over input data and a signature that
// the first input bytes describe, against a model of the calls and the item.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/match_input.h"
#include "markhound/signatures/signature.h"
#include "markhound/signatures/signature_list.h"

namespace {

// A search over more candidates than this is not run: it arises only when a
// start pattern wraps past 2^64 below a length near 2^64, which no host has.
constexpr uint64_t kMaxCandidates = uint64_t{1} << 20;

struct Expected {
    bool answer = false;
    FoundItem item{};
    std::vector<RecordingReader::Call> calls;
};

// Start test, GetSize, then candidates from S while below the bound.
Expected Model(const BoundedSignature& signature, const std::vector<PatternByte>& start,
               const std::vector<PatternByte>& end_pattern, const RecordingReader& reader,
               uint64_t position) {
    Expected e;
    if (!ModelPatternTest(start, reader, position, &e.calls)) return e;
    e.answer = true;
    e.calls.push_back({RecordingReader::Kind::kGetSize, 0, 0});
    const std::vector<PatternByte>& end = end_pattern.empty() ? start : end_pattern;
    const uint64_t length = reader.length();
    const uint64_t s = position + start.size();
    e.item.offset = position + signature.start_offset;
    e.item.extension = signature.ext.text;
    e.item.description = signature.name.text;
    if (length >= end.size()) {
        uint64_t bound = length - end.size();
        if (signature.limit_size() != 0 && signature.limit_size() < bound) bound = signature.limit_size();
        for (uint64_t c = s; c < bound; ++c) {
            if (ModelPatternTest(end, reader, c, &e.calls)) {
                e.item.size = c - position + signature.end_offset;
                return e;
            }
        }
    }
    const uint64_t to_end = length - position + signature.end_offset;
    e.item.size = to_end < length ? to_end : length;
    return e;
}

uint64_t ReadLimit(FuzzInput& input, uint64_t base) {
    switch (input.Byte() % 4) {
        case 0: return 0;
        case 1: return input.U32();  // as the loader stores LimitSize
        case 2: return base + input.Byte();
        default: return input.U64();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::vector<PatternByte> start = ReadPattern(input, input.Byte() % 33);
    const std::vector<PatternByte> end = ReadPattern(input, input.Byte() % 33);
    const uint64_t base = PickBase(input.Byte());
    const uint64_t limit = ReadLimit(input, base);
    const uint32_t start_offset = input.U32();
    const uint32_t end_offset = input.U32();
    const uint64_t position = base + input.Byte();
    const uint8_t length_choice = input.Byte();
    std::vector<uint8_t> fill = ReadFill(input);
    const uint32_t noise = input.U32();
    // The reported length: the data and up to 127 bytes of fill, or less than
    // the data (a host may serve bytes beyond the length it reports).
    const uint64_t served = input.RestSize();
    const uint64_t length = base + ((length_choice & 0x80) != 0 ? (length_choice & 0x7F) % (served + 1)
                                                                 : served + (length_choice & 0x7F));
    RecordingReader reader(input.Rest(), input.RestSize(), base, fill, length, noise);

    const uint64_t s = position + start.size();
    const uint64_t m = end.empty() ? start.size() : end.size();
    uint64_t bound = length >= m ? length - m : 0;
    if (limit != 0 && limit < bound) bound = limit;
    if (bound > s && bound - s > kMaxCandidates) return 0;

    auto* signature = new BoundedSignature;
    if (signature == nullptr) return 0;
    FUZZ_CHECK(Fill(signature->pattern, start) && Fill(signature->end_pattern, end));
    signature->limit_size() = limit;
    signature->start_offset = start_offset;
    signature->end_offset = end_offset;
    signature->name.Set("bounded");
    signature->ext.Set("bd");

    const FoundItem before = PoisonedItem();
    FoundItem item = before;
    const bool answer = signature->Match(reader.reader(), position, &item);
    const Expected expected = Model(*signature, start, end, reader, position);

    FUZZ_CHECK(answer == expected.answer);
    FUZZ_CHECK(reader.calls() == expected.calls);
    if (!answer) {
        FUZZ_CHECK(SameBytes(item, before));
    } else {
        FUZZ_CHECK(item.offset == expected.item.offset && item.size == expected.item.size);
        FUZZ_CHECK(item.extension == expected.item.extension);
        FUZZ_CHECK(item.description == expected.item.description);
        // A true answer only after every exact start element matched.
        for (size_t i = 0; i < start.size(); ++i) {
            if (start[i].exact != 0) FUZZ_CHECK(reader.ByteAt(position + i) == start[i].value);
        }
        // The end search: reads only after GetSize, never ReadBlock, never the
        // last byte of the data, never before S.
        bool searching = false;
        for (const RecordingReader::Call& call : reader.calls()) {
            FUZZ_CHECK(call.kind != RecordingReader::Kind::kReadBlock);
            if (call.kind == RecordingReader::Kind::kGetSize) {
                FUZZ_CHECK(!searching);
                searching = true;
            } else if (searching) {
                FUZZ_CHECK(call.position != length - 1);
                FUZZ_CHECK(call.position - s < (length - s));
            }
        }
        FUZZ_CHECK(searching);
    }
    // Detect over a list that holds the signature makes the same calls and
    // gives the same answer as its Match.
    SignatureList list;
    FUZZ_CHECK(list.Append(signature) != nullptr);
    RecordingReader again(input.Rest(), input.RestSize(), base, fill, length, noise);
    FoundItem listed = before;
    const uint32_t detected = DetectWithList(list, again.reader(), position, &listed);
    FUZZ_CHECK(detected == (answer ? 1u : 0u));
    FUZZ_CHECK(SameBytes(listed, item));
    FUZZ_CHECK(again.calls() == reader.calls());
    return 0;
}
