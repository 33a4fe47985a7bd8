// Hostile JPEG streams: readers that answer bytes forever past the data, and
// Huffman tables that overrun their segment. Every walk ends, and it ends at
// a known number of reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "photohound/frame.h"
#include "tests/hostile/sparse_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Small enough that a walk that runs to the bound costs little under ASan.
constexpr uint64_t kBound = uint64_t{1} << 20;
constexpr uint64_t kForever = uint64_t{1} << 62;  // a reported length nobody reaches

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kFrame = {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01, 0x00, 0x01, 0x01, 0x01, 0x11, 0x00};
const Bytes kScan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};

TEST(HostileJpegWalk, BytesForeverPastTheDataEndAtTheWalkBound) {
    struct Row {
        const char* what;
        Bytes data;
        Bytes fill;
    } rows[] = {
        {"marker search in zeros", kSoi, {}},
        {"entropy-coded data of zeros", Concat({kSoi, kFrame, kScan}), {}},
        {"a skipped segment of the longest length", Concat({kSoi, {0xFF, 0xE0, 0xFF, 0xFF}}), {}},
        {"fill bytes forever", kSoi, {0xFF}},
        {"stuffed zeros forever before the frame", kSoi, {0xFF, 0x00}},
        {"stuffed zeros forever in the scan", Concat({kSoi, kFrame, kScan}), {0xFF, 0x00}},
        {"a valid Huffman table, then zeros", Concat({kSoi, {0xFF, 0xC4, 0x00, 0x14, 0x00, 1}, Bytes(15, 0), {0x05}}), {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SparseReader reader(row.data, row.fill, kForever);
        FoundItem item{1, 2, nullptr, nullptr};
        EXPECT_EQ(Detect(reader.reader(), 0, &item, kBound), 0u);
        EXPECT_EQ(item.offset, 1u);
        EXPECT_EQ(reader.byte_reads, kBound);
        EXPECT_TRUE(reader.reads_in_order);
        EXPECT_EQ(reader.other_calls, 0u);
    }
}

TEST(HostileJpegWalk, TheHostsFillEndsWalksWithinASegmentLength) {
    // Past its data the host answers FF C4 FF C4 ...: a Huffman table whose
    // counts pass 256, so no walk runs on, whatever the bound.
    struct Row {
        const char* what;
        Bytes data;
    } rows[] = {
        {"marker search", kSoi},
        {"entropy-coded data", Concat({kSoi, kFrame, kScan})},
        {"a skipped segment of the longest length", Concat({kSoi, {0xFF, 0xE0, 0xFF, 0xFF}})},
        {"inside a frame header", Concat({kSoi, {0xFF, 0xC0, 0x00}})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SparseReader reader(row.data, {0xFF, 0xC4}, row.data.size());
        FoundItem item{1, 2, nullptr, nullptr};
        EXPECT_EQ(Detect(reader.reader(), 0, &item), 0u);
        EXPECT_LE(reader.byte_reads, row.data.size() + 0x10000 + 32);
        EXPECT_TRUE(reader.reads_in_order);
    }
}

// FF C4 with the length given, then the tables.
Bytes Dht(uint16_t length, std::initializer_list<Bytes> tables) {
    Bytes segment = {0xFF, 0xC4, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    for (const Bytes& table : tables) segment.insert(segment.end(), table.begin(), table.end());
    return segment;
}

// A table: class and destination byte, 16 counts (the first holds symbols),
// then the symbols.
Bytes Table(uint8_t class_and_destination, uint32_t symbols) {
    Bytes table = {class_and_destination};
    for (int i = 0; i < 16; ++i) table.push_back(i == 0 ? static_cast<uint8_t>(symbols > 255 ? 255 : symbols) : 0);
    if (symbols > 255) table[2] = static_cast<uint8_t>(symbols - 255);
    table.insert(table.end(), symbols, 0x00);
    return table;
}

TEST(HostileJpegWalk, HuffmanTablesThatOverrunTheirSegmentRejectAfterOneTable) {
    // The reads up to the rejection: SOI 2, marker 2, length 2, then tables.
    struct Row {
        const char* what;
        Bytes segment;
        uint64_t reads;
    } rows[] = {
        {"length 0", Dht(0, {Table(0x00, 0)}), 6 + 17},
        {"length 1", Dht(1, {Table(0x00, 0)}), 6 + 17},
        {"one table longer than the length", Dht(2 + 17, {Table(0x00, 1)}), 6 + 18},
        {"second table past the length", Dht(2 + 17 + 17, {Table(0x10, 0), Table(0x01, 5)}), 6 + 17 + 22},
        {"counts of 257: rejected before the symbols", Dht(2 + 17 + 257, {Table(0x00, 257)}), 6 + 17},
        {"destination 4: rejected after the symbols", Dht(2 + 17 + 3, {Table(0x04, 3)}), 6 + 20},
        {"length 3: one byte short of a table", Dht(3, {Table(0x00, 0)}), 6 + 17},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SparseReader reader(Concat({kSoi, row.segment}), {}, kForever);
        FoundItem item{1, 2, nullptr, nullptr};
        EXPECT_EQ(Detect(reader.reader(), 0, &item, kBound), 0u);
        EXPECT_EQ(reader.byte_reads, row.reads);
        EXPECT_EQ(item.offset, 1u);
    }
}

}  // namespace
