// Bounded signature matching: start test, end-pattern search with its bound,
// both results, and the exact reader calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/signatures/signature_builders.h"

namespace {

using Kind = FakeReader::Kind;
constexpr uint64_t k4G = 0x100000000ull;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<int> Elements(const std::string& text) { return {text.begin(), text.end()}; }

struct BoundedRow {
    const char* what;
    std::string start, end;  // end "" means no end pattern
    std::string data;
    uint64_t base;
    uint64_t position;
    uint64_t limit;
    uint32_t start_offset, end_offset;
    uint64_t size;
    std::vector<uint64_t> byte_reads;  // relative to base
};

TEST(BoundedMatch, AnswersItemsAndReaderCallsByTable) {
    const BoundedRow rows[] = {
        {"nearer end pattern wins", "S", "E", "S..E..E.", 0, 0, 0, 0, 0, 3, {0, 1, 2, 3}},
        {"end pattern right after the start is found", "ST", "E", "STE...", 0, 0, 0, 0, 0, 2,
         {0, 1, 2}},
        {"end overlapping the start is not found", "AB", "BC", "ABCxxx", 0, 0, 0, 0, 0, 6,
         {0, 1, 2, 3}},
        {"empty end: next start occurrence ends the item", "GI", "", "GIxxGIyyyy", 0, 0, 0, 0, 0, 4,
         {0, 1, 2, 3, 4, 5}},
        {"end on the last byte of the data is not found", "S", "E", "S..E", 0, 0, 0, 0, 0, 4,
         {0, 1, 2}},
        {"limit at the first candidate searches nothing", "S", "E", "SE....", 0, 0, 1, 0, 0, 6, {0}},
        {"limit below the first candidate searches nothing", "SS", "E", "SSE...", 0, 0, 1, 0, 0, 6,
         {0, 1}},
        {"limit ends the search early", "S", "E", "S...E..", 0, 0, 3, 0, 0, 7, {0, 1, 2}},
        {"limit above L - m changes nothing", "S", "E", "S..E..", 0, 0, 1000, 0, 0, 3, {0, 1, 2, 3}},
        {"start_offset moves only the offset", "S", "E", "S..E..", 0, 0, 0, 4, 1, 4, {0, 1, 2, 3}},
        {"end_offset takes the end pattern in", "S", "EN", "S.EN..", 0, 0, 0, 0, 2, 4,
         {0, 1, 2, 3}},
        {"not found: end_offset beyond P gives L", "S", "E", "xxS...", 0, 2, 0, 0, 5, 6,
         {2, 3, 4}},
        {"not found: L - P + end_offset", "S", "E", "xxS...", 0, 2, 0, 0, 1, 5, {2, 3, 4}},
        {"data shorter than the end pattern", "S", "END", "S.", 0, 0, 0, 0, 0, 2, {0}},
        {"positions above 2^32", "S", "E", "S..E..", k4G, k4G, 0, 0, 0, 3, {0, 1, 2, 3}},
        {"search across 2^32", "S", "E", "S...E...", k4G - 2, k4G - 2, 0, 0, 0, 4, {0, 1, 2, 3, 4}},
        {"wildcard end element reads nothing", "S", "?E", "S.xE..", 0, 0, 0, 0, 0, 2, {0, 2, 3}},
    };
    for (const BoundedRow& row : rows) {
        SCOPED_TRACE(row.what);
        BoundedSignature signature;
        FillPattern(signature.pattern, Elements(row.start));
        std::vector<int> end = Elements(row.end);
        for (int& element : end) {
            if (element == '?') element = kAny;
        }
        FillPattern(signature.end_pattern, end);
        Name(signature, "Doc", "doc");
        signature.limit_size() = row.limit;
        signature.start_offset = row.start_offset;
        signature.end_offset = row.end_offset;
        FakeReader reader(Bytes(row.data), row.base);
        FoundItem item = PoisonedItem();

        ASSERT_TRUE(signature.Match(reader.reader(), row.position, &item));
        EXPECT_EQ(item.offset, row.position + row.start_offset);
        EXPECT_EQ(item.size, row.size);
        EXPECT_EQ(item.extension, signature.ext.text);
        EXPECT_EQ(item.description, signature.name.text);
        std::vector<uint64_t> expected;
        for (uint64_t relative : row.byte_reads) expected.push_back(row.base + relative);
        EXPECT_EQ(reader.BytePositions(), expected);
        EXPECT_EQ(reader.Count(Kind::GetSize), 1u);
        EXPECT_EQ(reader.Count(Kind::ReadBlock), 0u);
        // The end search never reads the last byte of the data.
        for (uint64_t position : reader.BytePositions()) {
            if (position >= row.position + row.start.size()) {
                EXPECT_LT(position, reader.length() - 1);
            }
        }
    }
}

TEST(BoundedMatch, StartMismatchLeavesItemAndAsksNoSize) {
    BoundedSignature signature;
    FillPattern(signature.pattern, Elements("GIF"));
    FakeReader reader(Bytes("GIX..."));
    const FoundItem before = PoisonedItem();
    FoundItem item = before;
    EXPECT_FALSE(signature.Match(reader.reader(), 0, &item));
    EXPECT_TRUE(SameItem(item, before));
    EXPECT_EQ(reader.BytePositions(), (std::vector<uint64_t>{0, 1, 2}));
    EXPECT_EQ(reader.Count(Kind::GetSize), 0u);
}

TEST(BoundedMatch, NotFoundSizeWrapsWhenThePositionLiesBeyondTheData) {
    // The host's fill answers the start pattern past the end of its data.
    BoundedSignature signature;
    FillPattern(signature.pattern, {'S'});
    FillPattern(signature.end_pattern, {'E'});
    signature.end_offset = 5;
    FakeReader reader(Bytes("......"), 0, {'S'});
    FoundItem item = PoisonedItem();
    ASSERT_TRUE(signature.Match(reader.reader(), 10, &item));
    EXPECT_EQ(item.size, 1u);  // 6 - 10 + 5 modulo 2^64
    EXPECT_EQ(reader.BytePositions(), (std::vector<uint64_t>{10}));
}

TEST(BoundedMatch, FoundSizeWithLargeEndOffsetIsNotCapped) {
    BoundedSignature signature;
    FillPattern(signature.pattern, {'S'});
    FillPattern(signature.end_pattern, {'E'});
    signature.end_offset = 0xFFFFFFFFu;
    FakeReader reader(Bytes("S.E..."));
    FoundItem item = PoisonedItem();
    ASSERT_TRUE(signature.Match(reader.reader(), 0, &item));
    EXPECT_EQ(item.size, 2ull + 0xFFFFFFFFull);
}

}  // namespace
