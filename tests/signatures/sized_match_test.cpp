// Sized signature matching: the pattern test, the size field and the exact
// reader calls each answer costs.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/signatures/signature_builders.h"

namespace {

using Kind = FakeReader::Kind;

struct SizedRow {
    const char* what;
    std::vector<int> pattern;
    std::vector<uint8_t> data;
    uint64_t base;  // position of data[0]
    uint64_t position;
    uint64_t size_offset, size_width, size_addon;
    bool found;
    uint64_t size;                        // when found
    std::vector<uint64_t> byte_reads;     // ReadByte positions, in order
};

constexpr uint64_t k4G = 0x100000000ull;

TEST(SizedMatch, AnswersItemsAndReaderCallsByTable) {
    const SizedRow rows[] = {
        {"header then 4-byte size", {'B', 'M'}, {'B', 'M', 0x10, 0, 0, 0}, 0, 0, 2, 4, 0, true, 0x10,
         {0, 1}},
        {"first byte differs: one read", {'B', 'M'}, {'X', 'M', 1, 0}, 0, 0, 2, 1, 0, false, 0, {0}},
        {"mismatch at the last element", {1, 2, 3}, {1, 2, 9, 7}, 0, 0, 3, 1, 0, false, 0, {0, 1, 2}},
        {"all wildcards read nothing", {kAny, kAny}, {5, 6, 7}, 0, 0, 2, 1, 0, true, 7, {}},
        {"wildcard takes a position", {1, kAny, 3}, {1, 0xEE, 3, 4}, 0, 0, 3, 1, 0, true, 4, {0, 2}},
        {"width 1", {0xAA}, {0xAA, 0xFE}, 0, 0, 1, 1, 3, true, 0xFE + 3, {0}},
        {"width 2 little-endian", {0xAA}, {0xAA, 0x34, 0x12}, 0, 0, 1, 2, 0, true, 0x1234, {0}},
        {"width 4 is not sign-extended", {0xAA}, {0xAA, 0, 0, 0, 0x80}, 0, 0, 1, 4, 0, true,
         0x80000000ull, {0}},
        {"width 4 all ones plus addon", {0xAA}, {0xAA, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 0, 1, 4, 1, true,
         0x100000000ull, {0}},
        {"size_offset 0 reads the pattern bytes", {0x34, 0x12}, {0x34, 0x12}, 0, 0, 0, 2, 0, true,
         0x1234, {0, 1}},
        {"size 0", {7}, {7, 0}, 0, 0, 1, 1, 0, true, 0, {0}},
        {"match at an inner position", {7}, {0, 0, 7, 9}, 0, 2, 1, 1, 0, true, 9, {2}},
        {"positions above 2^32 keep their high half", {1, 2}, {1, 2, 5}, k4G + 16, k4G + 16, 2, 1, 0,
         true, 5, {k4G + 16, k4G + 17}},
        {"pattern across 2^32", {1, 2, 3}, {1, 2, 3, 6}, k4G - 2, k4G - 2, 3, 1, 0, true, 6,
         {k4G - 2, k4G - 1, k4G}},
    };
    for (const SizedRow& row : rows) {
        SCOPED_TRACE(row.what);
        SizedSignature signature;
        FillPattern(signature.pattern, row.pattern);
        Name(signature, "Thing", "thg");
        signature.size_offset = row.size_offset;
        signature.size_width = row.size_width;
        signature.size_addon = row.size_addon;
        FakeReader reader(row.data, row.base);
        const FoundItem before = PoisonedItem();
        FoundItem item = before;

        ASSERT_EQ(signature.Match(reader.reader(), row.position, &item), row.found);
        EXPECT_EQ(reader.BytePositions(), row.byte_reads);
        EXPECT_EQ(reader.Count(Kind::GetSize), 0u);
        if (!row.found) {
            EXPECT_TRUE(SameItem(item, before));
            EXPECT_EQ(reader.Count(Kind::ReadBlock), 0u);
            continue;
        }
        EXPECT_EQ(item.offset, row.position);
        EXPECT_EQ(item.size, row.size);
        EXPECT_EQ(item.extension, signature.ext.text);
        EXPECT_EQ(item.description, signature.name.text);
        ASSERT_EQ(reader.Count(Kind::ReadBlock), 1u);
        const FakeReader::Call& block = reader.calls().back();
        EXPECT_EQ(block.kind, Kind::ReadBlock);
        EXPECT_EQ(block.position, row.position + row.size_offset);
        EXPECT_EQ(block.count, row.size_width);
    }
}

TEST(SizedMatch, FieldTheHostCannotDeliverReadsAsZeroBytes) {
    // Data ends inside the size field: the missing high bytes count as zero.
    SizedSignature signature;
    FillPattern(signature.pattern, {0xAA});
    signature.size_offset = 1;
    signature.size_width = 4;
    FakeReader reader({0xAA, 0x21, 0x43}, 0, {0xFF});
    reader.set_short_blocks(true);
    FoundItem item = PoisonedItem();
    ASSERT_TRUE(signature.Match(reader.reader(), 0, &item));
    EXPECT_EQ(item.size, 0x4321u);
}

TEST(SizedMatch, SizeWrapsModulo2To64) {
    SizedSignature signature;
    FillPattern(signature.pattern, {kAny});
    signature.size_offset = 0;
    signature.size_width = 1;
    signature.size_addon = ~0ull;
    FakeReader reader({2});
    FoundItem item = PoisonedItem();
    ASSERT_TRUE(signature.Match(reader.reader(), 0, &item));
    EXPECT_EQ(item.size, 1u);
}

}  // namespace
