// The host's reader over mapped data: bytes inside, the FF C4 fill past the
// end, zero-filled blocks, and 64-bit positions.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/base/reader.h"

namespace {

constexpr uint64_t k4G = uint64_t{1} << 32;

struct Fixture {
    std::vector<uint8_t> bytes;
    MappedData data;
    HostReader reader;
    explicit Fixture(std::vector<uint8_t> b) : bytes(std::move(b)) {
        data = {bytes.data(), bytes.size()};
        reader = MakeReader(&data);
    }
    uint32_t Byte(uint64_t position) const { return reader.ReadByte(reader.context, position); }
    std::vector<uint8_t> Block(uint64_t position, size_t count, uint8_t poison = 0x5C) const {
        std::vector<uint8_t> out(count, poison);
        reader.ReadBlock(reader.context, out.data(), position, count);
        return out;
    }
};

TEST(ReaderBytes, InsideTheDataEachPositionGivesItsByte) {
    Fixture f({0x00, 0x7F, 0x80, 0xFF, 0x42});
    for (uint64_t i = 0; i < f.bytes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.Byte(i), f.bytes[i]);
    }
    EXPECT_EQ(f.reader.GetSize(f.reader.context), 5u);
}

TEST(ReaderBytes, PastTheEndAlternateFfC4CountedFromTheEnd) {
    const struct {
        size_t size;
        uint64_t position;
        uint32_t expected;
    } rows[] = {
        {5, 5, 0xFF}, {5, 6, 0xC4}, {5, 7, 0xFF}, {5, 104, 0xC4},
        {4, 4, 0xFF}, {4, 5, 0xC4}, {1, 1, 0xFF}, {1, 2, 0xC4},
        {5, k4G, 0xC4}, {5, k4G + 5, 0xFF}, {5, ~uint64_t{0}, 0xFF},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.position);
        Fixture f(std::vector<uint8_t>(row.size, 0x00));
        EXPECT_EQ(f.Byte(row.position), row.expected);
    }
}

TEST(ReaderBytes, AJpegWalkOffTheEndMeetsAMarkerAtOnce) {
    Fixture f({0xFF, 0xD8, 0x12});
    // Data "FF D8 12", then FF C4 FF C4: the first thing after the data is
    // a DHT marker, whatever the length of the data.
    EXPECT_EQ(f.Byte(3), 0xFFu);
    EXPECT_EQ(f.Byte(4), 0xC4u);
}

TEST(ReaderBlocks, CopyInsideAndZeroFillPastTheEnd) {
    Fixture f({1, 2, 3, 4, 5, 6});
    const struct {
        uint64_t position;
        size_t count;
        std::vector<uint8_t> expected;
    } rows[] = {
        {0, 6, {1, 2, 3, 4, 5, 6}},
        {2, 2, {3, 4}},
        {4, 4, {5, 6, 0, 0}},
        {6, 3, {0, 0, 0}},
        {100, 2, {0, 0}},
        {k4G, 4, {0, 0, 0, 0}},
        {~uint64_t{0} - 1, 4, {0, 0, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.position);
        EXPECT_EQ(f.Block(row.position, row.count), row.expected);
    }
}

TEST(ReaderBlocks, CountZeroWritesNothing) {
    Fixture f({1, 2, 3});
    EXPECT_EQ(f.Block(1, 0).size(), 0u);
    uint8_t guard[2] = {0x5C, 0x5C};
    f.reader.ReadBlock(f.reader.context, guard, 1, 0);
    f.reader.ReadBlock(f.reader.context, guard, 9, 0);
    EXPECT_EQ(guard[0], 0x5C);
    EXPECT_EQ(guard[1], 0x5C);
}

TEST(ReaderBlocks, BytesPastTheRequestAreLeftAlone) {
    Fixture f({1, 2, 3});
    std::vector<uint8_t> out(8, 0x5C);
    f.reader.ReadBlock(f.reader.context, out.data(), 2, 4);
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 0, 0, 0, 0x5C, 0x5C, 0x5C, 0x5C}));
}

}  // namespace
