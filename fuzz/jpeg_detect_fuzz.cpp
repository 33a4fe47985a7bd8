// Fuzz target: photohound's Detect over input data, once with a reader that
// answers zeros past the data (ended by a lowered walk bound) and once with
// the host's FF C4 past the data, each against a model of the marker walk.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "photohound/frame.h"

namespace {

// The marker walk as a model: reads through ByteAt, counts its reads, and
// answers the span it accepts or -1.
class ModelWalk {
public:
    ModelWalk(const RecordingReader& reader, uint64_t position, uint64_t max_reads)
        : reader_(reader), cursor_(position), max_reads_(max_reads < 2 ? 2 : max_reads) {}

    // The number of bytes read when accepted; -1 when rejected.
    int64_t Run() {
        const uint8_t first = Next();
        const uint8_t second = Next();
        if (failed_ || first != 0xFF || second != 0xD8) return -1;
        const uint8_t marker = NextMarker();
        if (!failed_ && (marker == 0xC0 || marker == 0xC1 || marker == 0xC3)) FrameHeader();
        if (!failed_ && ScanHeader()) EntropyData();
        return failed_ ? -1 : static_cast<int64_t>(reads_);
    }
    uint64_t reads() const { return reads_; }

private:
    // After a failure every read answers 0 and nothing is counted, so the
    // steps may run on harmlessly to their end.
    uint8_t Next() {
        if (failed_) return 0;
        if (reads_ == max_reads_) {
            failed_ = true;
            return 0;
        }
        ++reads_;
        return reader_.ByteAt(cursor_++);
    }
    uint16_t Word() {
        const uint16_t high = Next();
        return static_cast<uint16_t>(high << 8 | Next());
    }

    uint8_t NextMarker() {
        while (!failed_) {
            while (!failed_ && Next() != 0xFF) {
            }
            uint8_t code = Next();
            while (!failed_ && code == 0xFF) code = Next();
            if (failed_ || code == 0x00) continue;
            if ((code >= 0xC0 && code <= 0xC3) || (code >= 0xC5 && code <= 0xCB) ||
                (code >= 0xCD && code <= 0xCF) || code == 0xD8 || code == 0xD9 || code == 0xDA) {
                return code;
            }
            if (code == 0x01 || (code >= 0xD0 && code <= 0xD7) || code == 0xDB) continue;
            if (code == 0xC4) {
                HuffmanTables();
            } else if (code == 0xDD) {
                if (Word() != 4) failed_ = true;
                Word();
            } else {
                const uint16_t length = Word();
                for (uint32_t i = 2; i < length && !failed_; ++i) Next();
            }
        }
        return 0;
    }

    void HuffmanTables() {
        int32_t remaining = Word() - 2;
        if (failed_ || remaining == 0) return;
        while (!failed_) {
            const uint8_t destination = Next() & 0x0F;
            int32_t symbols = 0;
            for (int i = 0; i < 16; ++i) symbols += Next();
            if (symbols > 256) failed_ = true;
            for (int32_t i = 0; i < symbols && !failed_; ++i) Next();
            remaining -= 17 + symbols;
            if (destination >= 4) failed_ = true;
            if (failed_ || remaining == 0) return;
            if (remaining < 0) failed_ = true;
        }
    }

    void FrameHeader() {
        const uint16_t length = Word();
        const uint8_t precision = Next();
        const uint16_t lines = Word();
        const uint16_t samples = Word();
        const uint8_t components = Next();
        if (lines == 0 || samples == 0 || components == 0) failed_ = true;
        if (precision < 2 || precision > 16) failed_ = true;
        if (length != 3 * components + 8) failed_ = true;
    }

    bool ScanHeader() {
        if (NextMarker() != 0xDA || failed_) return false;
        const uint16_t length = Word();
        const uint8_t components = Next();
        if (length != 2 * components + 6 || components == 0 || components > 4) failed_ = true;
        for (int i = 0; i < components && !failed_; ++i) Word();
        Next();
        Next();
        Next();
        return !failed_;
    }

    void EntropyData() {
        while (!failed_) {
            if (Next() != 0xFF) continue;
            const uint8_t code = Next();
            if (code == 0x00) continue;
            if (code != 0xD9) failed_ = true;
            return;
        }
    }

    const RecordingReader& reader_;
    uint64_t cursor_;
    uint64_t max_reads_;
    uint64_t reads_ = 0;
    bool failed_ = false;
};

void CheckDetect(RecordingReader& reader, uint64_t position, uint64_t max_walk_bytes) {
    reader.set_log_limit(size_t{1} << 22);
    const FoundItem before = PoisonedItem();
    FoundItem item = before;
    const uint32_t answer = Detect(reader.reader(), position, &item, max_walk_bytes);
    ModelWalk model(reader, position, max_walk_bytes);
    const int64_t span = model.Run();

    FUZZ_CHECK(answer == (span >= 0 ? 1u : 0u));
    FUZZ_CHECK(reader.byte_reads() == model.reads());
    // One ReadByte per byte, in stream order from the candidate position;
    // never ReadBlock or GetSize.
    const std::vector<RecordingReader::Call>& calls = reader.calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        FUZZ_CHECK(calls[i].kind == RecordingReader::Kind::kReadByte);
        FUZZ_CHECK(calls[i].position == position + i);
    }
    if (answer == 0) {
        FUZZ_CHECK(SameBytes(item, before));
        return;
    }
    FUZZ_CHECK(item.offset == position);
    FUZZ_CHECK(item.size == static_cast<uint64_t>(span));
    FUZZ_CHECK(item.extension == kJpegExtension && item.description == kJpegDescription);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint64_t base = PickBase(input.Byte());
    const uint8_t start = input.Byte();
    const uint8_t bound_choice = input.Byte();
    const uint64_t served = input.RestSize();
    const uint64_t position = base + start % (served + 1);
    // Zeros past the data keep a marker search going: a lowered bound ends it.
    const uint64_t max_walk_bytes = bound_choice < 16 ? bound_choice : served + 64u * bound_choice;

    RecordingReader zeros(input.Rest(), input.RestSize(), base, {}, base + served, 0);
    CheckDetect(zeros, position, max_walk_bytes);
    // The host's reader: FF C4 past the data ends every walk without a bound.
    RecordingReader host(input.Rest(), input.RestSize(), base, {0xFF, 0xC4}, base + served, 0);
    CheckDetect(host, position, kMaxWalkBytes);
    return 0;
}
