// Candidate filters and threads change nothing: on varied data and random
// signature files (wildcards first, every size width, bounded signatures,
// includes), the scan with filters, on any number of threads and with any
// chunk size, reports exactly the items of one thread asking every plug-in
// at every position; and every yes of that scan is asked for again.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "host/base/reader.h"
#include "host/scan/filters.h"
#include "host/scan/scan.h"
#include "jpeghound/frame.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "photohound/frame.h"
#include "tests/fakes/temp_dir.h"
#include "tests/jpeg/jpeg_bytes.h"

namespace {

// The plug-ins in process: photohound's walk, jpeghound's walk, and
// markhound's dispatch over a list loaded from a signature file. Each logs
// where it answered yes.
SignatureList g_list;
std::mutex g_log_mutex;
std::set<std::tuple<uint64_t, int>> g_yes;  // (position, plug-in)

void LogYes(uint64_t position, int plugin) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_yes.insert({position, plugin});
}

uint32_t KX_CALL JpegDetect(uint32_t, const HostReader* reader, uint64_t position, FoundItem* item) {
    const uint32_t answer = Detect(reader, position, item);
    if (answer != 0) LogYes(position, 0);
    return answer;
}

uint32_t KX_CALL StrictJpegDetect(uint32_t, const HostReader* reader, uint64_t position,
                                  FoundItem* item) {
    const uint32_t answer = jpeghound::Detect(reader, position, item);
    if (answer != 0) LogYes(position, 2);
    return answer;
}

uint32_t KX_CALL SignatureDetect(uint32_t, const HostReader* reader, uint64_t position,
                                 FoundItem* item) {
    const uint32_t answer = DetectWithList(g_list, reader, position, item);
    if (answer != 0) LogYes(position, 1);
    return answer;
}

uint32_t KX_CALL One(uint32_t, uint32_t) { return 1; }
void KX_CALL None(uint32_t) {}
const PluginInterface kJpeg = {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None, &None,
                               &JpegDetect, 0};
const PluginInterface kStrictJpeg = {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None,
                                     &None, &StrictJpegDetect, 0};
const PluginInterface kSignatures = {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None,
                                     &None, &SignatureDetect, 0};

// Bytes that the random signatures are made of, so that they match often.
const uint8_t kAlphabet[] = {'A', 'B', 'C', 0x00, 0xFF, 0xD8, 0x3B};

std::string Token(std::mt19937& random, bool allow_wildcard) {
    if (allow_wildcard && random() % 4 == 0) return "?";
    const uint8_t byte = kAlphabet[random() % sizeof kAlphabet];
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", byte);
    switch (random() % 3) {
        case 0: return hex;
        case 1: return std::to_string(byte);
        default: return byte >= 'A' && byte <= 'C' ? std::string("'") + char(byte) : std::to_string(byte);
    }
}

std::string Pattern(std::mt19937& random, int length, bool wildcards_first) {
    std::string text;
    for (int i = 0; i < length; ++i) {
        if (i > 0) text += ",";
        text += wildcards_first && i < 2 ? std::string("?") : Token(random, true);
    }
    return text;
}

// A random section: sized or bounded, sometimes with wildcards first.
std::string Section(std::mt19937& random, int index) {
    std::string text = "[S" + std::to_string(index) + "]\n";
    const bool wildcards_first = random() % 5 == 0;
    const int length = 1 + static_cast<int>(random() % 4) + (wildcards_first ? 2 : 0);
    if (random() % 2 == 0) {
        text += "Signature=" + Pattern(random, length, wildcards_first) + "\n";
        text += "SizeOff=" + std::to_string(random() % 6) + "\n";
        text += "SizeSize=" + std::to_string(1 << (random() % 3)) + "\n";
        text += "SizeAddon=" + std::to_string(random() % 40) + "\n";
    } else {
        text += "SignatureStart=" + Pattern(random, length, wildcards_first) + "\n";
        if (random() % 4 != 0) text += "SignatureEnd=" + Pattern(random, 1 + random() % 2, false) + "\n";
        if (random() % 3 == 0) text += "LimitSize=" + std::to_string(random() % 3000) + "\n";
        text += "StartOffset=" + std::to_string(random() % 3) + "\n";
        text += "EndOffset=" + std::to_string(random() % 4) + "\n";
    }
    return text + "Ext=e" + std::to_string(index % 3) + "\n";
}

// signs.ini with a few sections and an include of more in a subfolder.
void WriteSignatureFiles(const TempDir& dir, std::mt19937& random, bool rare_only) {
    std::string top, sub;
    const int count = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
        std::string section = Section(random, i);
        if (rare_only) {
            // Headers that the data rarely holds: filters skip most positions.
            section = "[R" + std::to_string(i) + "]\nSignature='C,'A,'B," + std::to_string(i) +
                      "\nSizeOff=4\nSizeSize=" + std::to_string(1 << (i % 3)) + "\nExt=r\n";
        }
        (random() % 3 == 0 ? sub : top) += section;
    }
    top += "[More]\nInclude=sub\\more.ini\n";
    dir.Write("signs.ini", top);
    dir.Write("sub/more.ini", sub.empty() ? std::string("; nothing\n") : sub);
}

// Random bytes of the alphabet, runs of plain filler, and small JPEG images
// (SOI, a frame header, EOI) put in, some across the chunk boundaries.
std::vector<uint8_t> MakeData(std::mt19937& random, size_t size) {
    static const uint8_t kJpegImage[] = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01,
                                         0x00, 0x01, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};
    const Bytes strict = StrictImage();
    std::vector<uint8_t> data(size);
    size_t i = 0;
    while (i < size) {
        const size_t run = std::min<size_t>(size - i, 8 + random() % 200);
        const int kind = static_cast<int>(random() % 4);
        for (size_t k = 0; k < run; ++k, ++i) {
            data[i] = kind == 0 ? static_cast<uint8_t>(random())
                    : kind == 3 ? 0x20
                                : kAlphabet[random() % sizeof kAlphabet];
        }
        if (random() % 3 == 0 && i + sizeof kJpegImage <= size) {
            std::copy(std::begin(kJpegImage), std::end(kJpegImage), data.begin() + i);
            i += sizeof kJpegImage;
        }
        if (random() % 4 == 0 && i + strict.size() <= size) {
            std::copy(strict.begin(), strict.end(), data.begin() + i);
            i += strict.size();
        }
    }
    return data;
}

using Seen = std::tuple<uint64_t, uint64_t, uint64_t, bool, std::string, std::string, uint32_t>;

Seen SeenOf(const Item& item) {
    return {item.offset, item.size, item.size_in_file, item.truncated, item.extension, item.description, item.plugin};
}

std::vector<Seen> ItemsOf(const Scanner& scanner, uint64_t size) {
    std::vector<Seen> seen;
    scanner.ScanRange(0, size, [&](const Item& item) { seen.push_back(SeenOf(item)); }, nullptr);
    return seen;
}

std::vector<Seen> ItemsOf(const Scanner& scanner, const std::vector<ScanSpan>& spans) {
    std::vector<Seen> seen;
    scanner.ScanSpans(spans, [&](const Item& item) { seen.push_back(SeenOf(item)); }, nullptr);
    return seen;
}

struct Variant {
    const char* name;
    unsigned threads;
    uint64_t chunk_size;
    size_t max_found = kMaxFoundPerChunk;  // items a chunk's scan holds
};

TEST(IdenticalScan, FiltersAndThreadsReportWhatOneThreadAskingEverywhereReports) {
    const Variant variants[] = {
        {"filters, one thread", 1, kDefaultChunkSize},
        {"filters, 3 threads, chunks of 1", 3, 1},
        {"filters, 2 threads, chunks of 7", 2, 7},
        {"filters, 4 threads, chunks of 64", 4, 64},
        {"filters, 3 threads, chunks of 333", 3, 333},
        {"filters, 2 threads, chunks of 64 holding 1 item", 2, 64, 1},
        {"filters, 3 threads, chunks of 333 holding 3 items", 3, 333, 3},
    };
    std::mt19937 random(77);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir dir;
        WriteSignatureFiles(dir, random, round % 4 == 3);
        g_list.DeleteAll();
        LoadSignatureFile(dir.Windows("signs.ini").c_str(), g_list);
        const CandidateFilter signature_filter = SignatureFilter(g_list);

        const std::vector<uint8_t> bytes = MakeData(random, 600 + random() % 2500);
        const MappedData data = {bytes.data(), bytes.size()};
        const HostReader reader = MakeReader(&data);
        ScanOptions options;
        options.nested = round % 5 == 1;
        if (round % 7 == 2) options.min_size = 3;
        if (round % 7 == 4) options.max_size = 200;
        const bool jpeg_first = round % 2 == 0;
        auto detectors = [&](bool filtered) {
            std::vector<Detector> list;
            const Detector jpeg(&kJpeg, 0, filtered ? JpegFilter() : CandidateFilter());
            const Detector signatures(&kSignatures, 1, filtered ? signature_filter : CandidateFilter());
            const Detector strict(&kStrictJpeg, 2, filtered ? StrictJpegFilter() : CandidateFilter());
            if (jpeg_first) list.push_back(strict);
            list.push_back(jpeg_first ? jpeg : signatures);
            list.push_back(jpeg_first ? signatures : jpeg);
            if (!jpeg_first) list.push_back(strict);
            return list;
        };

        g_yes.clear();
        const std::vector<Seen> expected = ItemsOf(Scanner(&reader, bytes.size(), detectors(false), options), bytes.size());
        const std::set<std::tuple<uint64_t, int>> expected_yes = g_yes;
        for (const Variant& variant : variants) {
            SCOPED_TRACE(variant.name);
            ScanOptions threaded = options;
            threaded.threads = variant.threads;
            threaded.chunk_size = variant.chunk_size;
            threaded.max_found_per_chunk = variant.max_found;
            g_yes.clear();
            EXPECT_EQ(ItemsOf(Scanner(&data, detectors(true), threaded), bytes.size()), expected);
            // Chunk scans may ask more positions than one thread, never fewer.
            for (const auto& yes : expected_yes) EXPECT_EQ(g_yes.count(yes), 1u);
        }
        // The same threads without filters: --exhaustive.
        ScanOptions exhaustive = options;
        exhaustive.threads = 2;
        exhaustive.chunk_size = 50;
        EXPECT_EQ(ItemsOf(Scanner(&data, detectors(false), exhaustive), bytes.size()), expected);

        // Spans apart scanned as one, on threads as on one: as span by span,
        // each from its start or from behind the last item found before it.
        std::vector<ScanSpan> spans;
        for (uint64_t at = random() % 100; at < bytes.size();) {
            const uint64_t end = std::min<uint64_t>(bytes.size(), at + 1 + random() % 700);
            spans.push_back({at, end});
            at = end + 1 + random() % 300;
        }
        std::vector<Seen> by_span;
        const Scanner one(&data, detectors(true), options);
        Item last{};
        bool found = false;
        for (const ScanSpan& span : spans) {
            const uint64_t from = found ? std::max(span.begin, NextPosition(last.offset, last, options.nested)) : span.begin;
            if (from >= span.end) continue;
            one.ScanRange(from, span.end, [&](const Item& item) {
                by_span.push_back(SeenOf(item));
                last = item;
                found = true;
            }, nullptr);
        }
        for (const Variant& variant : {Variant{"spans, one thread", 1, kDefaultChunkSize}, Variant{"spans, 2 threads, chunks of 7", 2, 7},
                                       Variant{"spans, 3 threads, chunks of 64", 3, 64}}) {
            SCOPED_TRACE(variant.name);
            ScanOptions threaded = options;
            threaded.threads = variant.threads;
            threaded.chunk_size = variant.chunk_size;
            EXPECT_EQ(ItemsOf(Scanner(&data, detectors(true), threaded), spans), by_span);
        }
    }
    g_list.DeleteAll();
}

// A chunk whose scan jumps over the position where the true scan goes on:
// the positions up to the end of that jump are scanned again, and items
// found there replace the chunk's own.
uint32_t KX_CALL Overlapping(uint32_t, const HostReader*, uint64_t position, FoundItem* item) {
    // Items at 0 (to 30), at 25 (to 60) and at 40 (to 45).
    static const uint64_t kItems[][2] = {{0, 30}, {25, 35}, {40, 5}};
    for (const auto& found : kItems) {
        if (position != found[0]) continue;
        *item = {found[0], found[1], "o", "overlap"};
        return 1;
    }
    return 0;
}
const PluginInterface kOverlapping = {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None,
                                      &None, &Overlapping, 0};

TEST(IdenticalScan, ItemRunningIntoTheNextChunkOverridesThatChunksOwnJumps) {
    const std::vector<uint8_t> bytes(100, 0);
    const MappedData data = {bytes.data(), bytes.size()};
    for (uint64_t chunk_size : {1, 3, 20, 26, 27, 41}) {
        SCOPED_TRACE("chunks of " + std::to_string(chunk_size));
        ScanOptions options;
        options.threads = 3;
        options.chunk_size = chunk_size;
        const Scanner scanner(&data, {Detector(&kOverlapping, 0)}, options);
        std::vector<uint64_t> offsets;
        std::vector<std::pair<uint64_t, uint64_t>> progress;
        scanner.ScanRange(0, bytes.size(), [&](const Item& item) { offsets.push_back(item.offset); },
                          [&](uint64_t position, uint64_t items) { progress.push_back({position, items}); });
        // The item at 0 hides the one at 25, so the one at 40 is found.
        EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 40}));
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), (std::pair<uint64_t, uint64_t>{100, 2}));
        for (size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1].first, progress[i].first);
    }
}

// An item of one byte at every position.
uint32_t KX_CALL Everywhere(uint32_t, const HostReader*, uint64_t position, FoundItem* item) {
    *item = {position, 1, "x", "x"};
    return 1;
}
const PluginInterface kEverywhere = {{'K', 'X'}, KX_INTERFACE_VERSION, 0, &One, &None, &None,
                                     &None, &Everywhere, 0};

TEST(IdenticalScan, StopRequestEndsTheThreadedScanBeforeTheNextItem) {
    const std::vector<uint8_t> bytes(5000, 0);
    const MappedData data = {bytes.data(), bytes.size()};
    std::atomic<int> stop{0};
    ScanOptions options;
    options.threads = 3;
    options.chunk_size = 64;
    options.stop = &stop;
    const Scanner scanner(&data, {Detector(&kEverywhere, 0)}, options);
    std::vector<uint64_t> offsets;
    scanner.ScanRange(0, bytes.size(), [&](const Item& item) {
        offsets.push_back(item.offset);
        if (offsets.size() == 100) stop = 2;
    }, nullptr);
    EXPECT_EQ(offsets.size(), 100u);
    EXPECT_EQ(offsets.back(), 99u);
}

}  // namespace
