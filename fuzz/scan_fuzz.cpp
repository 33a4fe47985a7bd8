// Fuzz target: hound's scan loop over input data with its own reader, asking
// photohound's walk, a markhound list of signatures and a plug-in that
// answers hostile items. The items must be those of a plain model of the
// scan rules; the reader must answer past the data as the host promises.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/base/reader.h"
#include "host/check/formats.h"
#include "host/scan/scan.h"
#include "markhound/signatures/signature_list.h"
#include "photohound/frame.h"

namespace {

// A list with one signature of each shape the scan must survive: sized ones
// whose size field lies at or past the end, bounded ones that search the
// rest of the data.
SignatureList* BuildList() {
    auto* list = new SignatureList;
    auto sized = [&](std::vector<PatternByte> pattern, uint64_t offset, uint64_t width, uint64_t addon) {
        auto* s = new SizedSignature;
        for (const PatternByte& e : pattern) s->pattern.Add(&e);
        s->size_offset = offset;
        s->size_width = width;
        s->size_addon = addon;
        s->name.Set("sized");
        s->ext.Set("sz");
        list->Append(s);
    };
    auto bounded = [&](std::vector<PatternByte> start, std::vector<PatternByte> end, uint64_t limit,
                       uint32_t start_offset, uint32_t end_offset) {
        auto* b = new BoundedSignature;
        for (const PatternByte& e : start) b->pattern.Add(&e);
        for (const PatternByte& e : end) b->end_pattern.Add(&e);
        b->limit_size() = limit;
        b->start_offset = start_offset;
        b->end_offset = end_offset;
        b->name.Set("bounded");
        b->ext.Set("bd");
        list->Append(b);
    };
    sized({{1, 'B'}, {1, 'M'}}, 2, 4, 0);
    sized({{1, 'P'}, {1, 'K'}, {1, 3}, {1, 4}}, 18, 4, 30);
    sized({{1, 0}, {1, 0}}, 0, 1, 0);  // size 0: the field is the pattern's own first byte
    bounded({{1, 'G'}, {1, 'I'}, {1, 'F'}, {1, '8'}}, {{1, 0}, {1, ';'}}, 0, 0, 2);
    bounded({{1, '%'}, {1, 'P'}}, {{1, '%'}, {1, 'E'}}, 0, 0, 2);
    bounded({{1, 'x'}}, {}, 0, 4, 0);  // the next x ends the item; the offset moves by 4
    bounded({{1, 'L'}}, {{1, 'E'}}, 200, 0, 1);
    return list;
}

const SignatureList& Signatures() {
    static const SignatureList* const list = BuildList();
    return *list;
}

uint32_t KX_CALL Initialize(uint32_t, uint32_t) { return 1; }
void KX_CALL Nothing(uint32_t) {}

uint32_t KX_CALL DetectJpeg(uint32_t, const HostReader* reader, uint64_t position, FoundItem* item) {
    return Detect(reader, position, item);
}

uint32_t KX_CALL DetectSignatures(uint32_t, const HostReader* reader, uint64_t position, FoundItem* item) {
    return DetectWithList(Signatures(), reader, position, item);
}

// Yes at every byte AA: offset and size from the bytes behind it, texts null.
uint32_t KX_CALL DetectHostile(uint32_t, const HostReader* reader, uint64_t position, FoundItem* item) {
    if (static_cast<uint8_t>(reader->ReadByte(reader->context, position)) != 0xAA) return 0;
    uint8_t field[16] = {};
    reader->ReadBlock(reader->context, field, position + 1, sizeof field);
    uint64_t offset = 0;
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) {
        offset = offset << 8 | field[i];
        size = size << 8 | field[8 + i];
    }
    // Mostly near the position; sometimes anywhere in the 64-bit range.
    item->offset = (field[15] & 0x80) != 0 ? offset : position + (offset & 0xFF) - (field[7] & 0x0F);
    item->size = (field[14] & 0x80) != 0 ? size : (size & 0x3FF);
    item->extension = nullptr;
    item->description = nullptr;
    return 1;
}

const PluginInterface kJpeg = {{'K', 'X'}, 0x0100, 0, &Initialize, &Nothing, &Nothing, &Nothing, &DetectJpeg, 0};
const PluginInterface kSignatures = {{'K', 'X'}, 0x0100, 0, &Initialize, &Nothing, &Nothing, &Nothing, &DetectSignatures, 0};
const PluginInterface kHostile = {{'K', 'X'}, 0x0100, 0, &Initialize, &Nothing, &Nothing, &Nothing, &DetectHostile, 0};

struct Seen {
    uint64_t offset, size, size_in_file;
    bool truncated;
    std::string extension, description;
    uint32_t plugin;
    bool operator==(const Seen& o) const {
        return offset == o.offset && size == o.size && size_in_file == o.size_in_file &&
               truncated == o.truncated && extension == o.extension && description == o.description &&
               plugin == o.plugin;
    }
};

// The scan rules as a model: ask every detector in order at a position;
// with checks, an item its checker finds invalid is no yes and a valid one
// takes the format's end; the first yes whose size passes the filters is
// the item; go on at the next position when nested or truncated (or for an
// item that ends before it), else behind the item. bytes: the data, for the
// checks.
std::vector<Seen> Model(const HostReader* reader, uint64_t size, const std::vector<Detector>& detectors,
                        const ScanOptions& options, uint64_t begin, uint64_t end,
                        const uint8_t* bytes = nullptr) {
    std::vector<Seen> seen;
    for (uint64_t position = begin; position < end;) {
        bool found_one = false;
        for (const Detector& detector : detectors) {
            FoundItem found = {position, 0, nullptr, nullptr};
            if (detector.record->Detect(0, reader, position, &found) == 0) continue;
            if (options.check != nullptr && found.offset < size) {
                const CheckResult check = options.check({bytes + found.offset, size - found.offset});
                if (check.state == CheckState::kInvalid) continue;
                if (check.state == CheckState::kValid && check.end > 0) found.size = check.end;
            }
            if (found.size < options.min_size || found.size > options.max_size) continue;
            // Truncated: the item reaches past the data (its end counted without overflow).
            const bool truncated = found.offset > size || found.size > size - found.offset;
            const uint64_t in_file = found.offset >= size ? 0 : (truncated ? size - found.offset : found.size);
            seen.push_back({found.offset, found.size, in_file, truncated,
                            found.extension ? found.extension : "", found.description ? found.description : "",
                            detector.plugin});
            found_one = true;
            const uint64_t next = position + 1;
            position = options.nested || truncated ? next
                       : found.offset + found.size > next ? found.offset + found.size : next;
            break;
        }
        if (!found_one) ++position;
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t order = input.Byte();
    const uint8_t flags = input.Byte();
    const uint16_t min_size = input.Byte();
    const uint16_t max_size = static_cast<uint16_t>(input.Byte() << 4);
    const uint8_t split = input.Byte();
    const MappedData mapped{input.Rest(), input.RestSize()};
    const HostReader reader = MakeReader(&mapped);

    // The reader: FF C4 past the end, counted from the end; zeros past the
    // end in blocks, and the data's own bytes before it.
    for (uint64_t k = 0; k < 4; ++k) {
        FUZZ_CHECK(static_cast<uint8_t>(reader.ReadByte(reader.context, mapped.size + k)) == (k % 2 == 0 ? 0xFF : 0xC4));
    }
    uint8_t block[8];
    const uint64_t at = mapped.size > 4 ? mapped.size - 4 : 0;
    reader.ReadBlock(reader.context, block, at, sizeof block);
    for (uint64_t i = 0; i < sizeof block; ++i) {
        FUZZ_CHECK(block[i] == (at + i < mapped.size ? mapped.bytes[at + i] : 0));
    }
    FUZZ_CHECK(reader.GetSize(reader.context) == mapped.size);

    const PluginInterface* records[] = {&kJpeg, &kSignatures, &kHostile};
    std::vector<Detector> detectors;
    for (uint32_t i = 0; i < 3; ++i) {
        if ((order >> (i * 2) & 3) != 3) detectors.push_back({records[(order >> (i * 2) & 3) % 3], i});
    }
    ScanOptions options;
    options.nested = (flags & 1) != 0;
    if ((flags & 2) != 0) options.min_size = min_size;
    if ((flags & 4) != 0) options.max_size = max_size;
    std::atomic<int> running{0};
    if ((flags & 8) != 0) options.stop = &running;

    const Scanner scanner(&reader, mapped.size, detectors, options);
    std::vector<Seen> seen;
    uint64_t progress_calls = 0;
    uint64_t last_progress = 0;
    const uint64_t count = scanner.ScanRange(
        0, mapped.size,
        [&](const Item& item) {
            FUZZ_CHECK(item.size_in_file <= item.size);
            FUZZ_CHECK(item.size >= options.min_size && item.size <= options.max_size);
            seen.push_back({item.offset, item.size, item.size_in_file, item.truncated, item.extension,
                            item.description, item.plugin});
        },
        [&](uint64_t position, uint64_t items) {
            FUZZ_CHECK(position >= last_progress && position <= mapped.size);
            FUZZ_CHECK(items == seen.size());
            last_progress = position;
            ++progress_calls;
        });
    FUZZ_CHECK(count == seen.size());
    FUZZ_CHECK(mapped.size == 0 || progress_calls >= 1);
    FUZZ_CHECK(seen == Model(&reader, mapped.size, detectors, options, 0, mapped.size));

    // Nested scans ask every position alone: two ranges give the whole.
    if (options.nested) {
        const uint64_t middle = mapped.size == 0 ? 0 : split % (mapped.size + 1);
        std::vector<Seen> halves;
        auto keep = [&](const Item& item) {
            halves.push_back({item.offset, item.size, item.size_in_file, item.truncated, item.extension,
                              item.description, item.plugin});
        };
        scanner.ScanRange(0, middle, keep, nullptr);
        scanner.ScanRange(middle, mapped.size, keep, nullptr);
        FUZZ_CHECK(halves == seen);
    }

    // With checks (a scan of the mapped bytes, the JPEG pre-check on, in
    // small chunks on two threads): the items of "ask, then check".
    if ((flags & 16) != 0) {
        ScanOptions checked = options;
        checked.check = CheckItem;
        checked.stop = nullptr;
        checked.threads = 2;
        checked.chunk_size = split % 64 + 1;
        std::vector<Detector> with_precheck = detectors;
        for (Detector& detector : with_precheck) {
            if (detector.record == &kJpeg) detector.pre_checks.push_back({FormatMayStart, FindFormat("jpeg")});
        }
        const Scanner check_scanner(&mapped, with_precheck, checked);
        std::vector<Seen> found;
        check_scanner.ScanRange(
            0, mapped.size,
            [&](const Item& item) {
                FUZZ_CHECK(item.check != CheckState::kInvalid && item.check != CheckState::kOff);
                found.push_back({item.offset, item.size, item.size_in_file, item.truncated, item.extension,
                                 item.description, item.plugin});
            },
            nullptr);
        FUZZ_CHECK(found == Model(&reader, mapped.size, detectors, checked, 0, mapped.size, mapped.bytes));
    }
    return 0;
}
