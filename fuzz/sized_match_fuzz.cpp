// Fuzz target: SizedSignature::Match over input data and a signature that the
// first input bytes describe, against a model of the calls and the item.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/match_input.h"
#include "markhound/signatures/signature.h"
#include "markhound/signatures/signature_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::vector<PatternByte> pattern = ReadPattern(input, input.Byte() % 48);
    const uint64_t size_offset = ReadOffset(input);
    static const uint64_t kWidths[] = {1, 2, 4};  // the only widths the loader keeps
    const uint64_t size_width = kWidths[input.Byte() % 3];
    const uint64_t size_addon = ReadOffset(input);
    const uint64_t base = PickBase(input.Byte());
    const uint64_t position = base + input.Byte();
    std::vector<uint8_t> fill = ReadFill(input);
    const uint32_t noise = input.U32();
    RecordingReader reader(input.Rest(), input.RestSize(), base, fill,
                           base + input.RestSize(), noise);

    auto* signature = new SizedSignature;
    if (signature == nullptr) return 0;
    FUZZ_CHECK(Fill(signature->pattern, pattern));
    signature->size_offset = size_offset;
    signature->size_width = size_width;
    signature->size_addon = size_addon;
    signature->name.Set("sized");
    signature->ext.Set("sz");

    const FoundItem before = PoisonedItem();
    FoundItem item = before;
    const bool answer = signature->Match(reader.reader(), position, &item);

    std::vector<RecordingReader::Call> expected;
    const bool matches = ModelPatternTest(pattern, reader, position, &expected);
    FUZZ_CHECK(answer == matches);
    if (!answer) {
        FUZZ_CHECK(SameBytes(item, before));
    } else {
        expected.push_back({RecordingReader::Kind::kReadBlock, position + size_offset, size_width});
        uint64_t field = 0;
        for (uint64_t i = 0; i < size_width; ++i) {
            field |= static_cast<uint64_t>(reader.ByteAt(position + size_offset + i)) << (8 * i);
        }
        FUZZ_CHECK(item.offset == position);
        FUZZ_CHECK(item.size == size_addon + field);
        FUZZ_CHECK(item.extension == signature->ext.text);
        FUZZ_CHECK(item.description == signature->name.text);
    }
    FUZZ_CHECK(reader.calls() == expected);
    // Detect over a list that holds the signature makes the same calls and
    // gives the same answer as its Match.
    SignatureList list;
    FUZZ_CHECK(list.Append(signature) != nullptr);
    RecordingReader again(input.Rest(), input.RestSize(), base, fill,
                          base + input.RestSize(), noise);
    FoundItem listed = before;
    const uint32_t detected = DetectWithList(list, again.reader(), position, &listed);
    FUZZ_CHECK(detected == (answer ? 1u : 0u));
    FUZZ_CHECK(SameBytes(listed, item));
    FUZZ_CHECK(again.calls() == reader.calls());
    return 0;
}
