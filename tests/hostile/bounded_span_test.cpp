// Signatures over hostile spans: a bounded signature whose end never comes in
// data of 2^40 bytes costs no more than its limit allows, and a sized one
// with huge offsets makes one block read.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "markhound/signatures/signature.h"
#include "tests/hostile/sparse_reader.h"

namespace {

constexpr uint64_t kHuge = uint64_t{1} << 40;

void SetPattern(PatternArray& target, const std::vector<PatternByte>& elements) {
    for (const PatternByte& element : elements) ASSERT_NE(target.Add(&element), nullptr);
}

TEST(HostileBoundedSpan, AnEndThatNeverComesCostsAtMostTheLimit) {
    struct Row {
        const char* what;
        std::vector<uint8_t> fill;  // what stands behind the start byte, repeated
        std::vector<PatternByte> end;
        uint64_t limit;
    } rows[] = {
        {"first end byte never seen", {0x00}, {{1, 'E'}, {1, 'N'}, {1, 'D'}}, 1 << 20},
        {"every candidate almost an end", {'E', 'N'}, {{1, 'E'}, {1, 'N'}, {1, 'D'}}, 1 << 20},
        {"wildcards before the mismatch", {'x'}, {{0, 0}, {0, 0}, {1, 'D'}}, 1 << 19},
        {"limit at the first candidate", {0x00}, {{1, 'E'}}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto* signature = new BoundedSignature;
        ASSERT_NE(signature, nullptr);
        SetPattern(signature->pattern, {{1, 'S'}});
        SetPattern(signature->end_pattern, row.end);
        signature->limit_size() = row.limit;
        SparseReader reader({'S'}, row.fill, kHuge);
        FoundItem item{};
        ASSERT_TRUE(signature->Match(reader.reader(), 0, &item));
        // Not found: the item runs to the end of the data.
        EXPECT_EQ(item.offset, 0u);
        EXPECT_EQ(item.size, kHuge);
        // Candidates 1 to limit - 1, each reading at most the end pattern.
        const uint64_t candidates = row.limit > 1 ? row.limit - 1 : 0;
        EXPECT_LE(reader.byte_reads, 1 + candidates * row.end.size());
        EXPECT_GE(reader.byte_reads, 1 + candidates);
        EXPECT_LT(reader.highest_read, row.limit + row.end.size());
        EXPECT_EQ(reader.other_calls, 1u);  // GetSize
        delete signature;
    }
}

TEST(HostileBoundedSpan, AStartNearTheEndOfHugeDataSearchesOnlyWhatIsLeft) {
    auto* signature = new BoundedSignature;
    ASSERT_NE(signature, nullptr);
    SetPattern(signature->pattern, {{0, 0}});
    SetPattern(signature->end_pattern, {{1, 'E'}});
    SparseReader reader({}, {0x00}, kHuge);
    FoundItem item{};
    ASSERT_TRUE(signature->Match(reader.reader(), kHuge - 100, &item));
    EXPECT_EQ(item.size, 100u);
    EXPECT_EQ(reader.byte_reads, 98u);  // candidates kHuge - 99 to kHuge - 2
    EXPECT_EQ(reader.highest_read, kHuge - 2);
    delete signature;
}

TEST(HostileSizedSpan, HugeOffsetsAndAddonsCostOneBlockRead) {
    auto* signature = new SizedSignature;
    ASSERT_NE(signature, nullptr);
    SetPattern(signature->pattern, {{1, 'S'}});
    signature->size_offset = ~uint64_t{0} - 1;  // the field wraps: 2^64 - 2, 2^64 - 1, 0, 1
    signature->size_width = 4;
    signature->size_addon = ~uint64_t{0};
    SparseReader reader({'S'}, {0xFF}, kHuge);
    FoundItem item{};
    ASSERT_TRUE(signature->Match(reader.reader(), 0, &item));
    EXPECT_EQ(item.size, ~uint64_t{0} + 0xFF53FFFFull);  // bytes FF FF 'S' FF, and the sum wraps
    EXPECT_EQ(reader.byte_reads, 1u);
    EXPECT_EQ(reader.other_calls, 1u);
    delete signature;
}

}  // namespace
