// photohound.dll end to end as a Windows host runs it, on JPEG files that
// cjpeg made: found inside other data, at positions above 2^32 too, and
// progressive or restart-marked images answered no.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/win32/win32_support.h"

namespace {

class PhotohoundHost : public PluginHostTest {
protected:
    PhotohoundHost() : PluginHostTest("photohound.dll") {}
};

// A JPEG between runs of other bytes, as it lies inside a larger file.
std::vector<uint8_t> Embedded(const std::vector<uint8_t>& image, size_t before, size_t after) {
    std::vector<uint8_t> data;
    for (size_t i = 0; i < before; ++i) data.push_back(static_cast<uint8_t>(i * 7));
    data.insert(data.end(), image.begin(), image.end());
    for (size_t i = 0; i < after; ++i) data.push_back(static_cast<uint8_t>(0xFF - i));
    return data;
}

TEST_F(PhotohoundHost, AnswersForCjpegImagesByTable) {
    struct Row {
        const char* file;
        uint64_t base;
        bool found;
    };
    const Row rows[] = {
        {"baseline.jpg", 0, true},
        {"baseline.jpg", 0xFFFFFF00ull, true},  // the walk crosses 2^32
        {"progressive.jpg", 0, false},          // the first scan runs into the next DHT
        {"restart.jpg", 0, false},              // RST markers inside the scan data
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " at " + std::to_string(row.base));
        const std::vector<uint8_t> image = ReadWholeFile(DataPath(row.file));
        ASSERT_GT(image.size(), 100u);
        const size_t before = 300;
        FakeReader reader(Embedded(image, before, 200), row.base);
        const FoundItem untouched = PoisonedItem();
        FoundItem item = untouched;
        const uint64_t position = row.base + before;
        ASSERT_EQ(record_->Detect(0, reader.reader(), position, &item), row.found ? 1u : 0u);
        if (!row.found) {
            EXPECT_TRUE(SameItem(item, untouched));
            continue;
        }
        EXPECT_EQ(item.offset, position);
        EXPECT_EQ(item.size, image.size());
        EXPECT_STREQ(item.extension, "jpg");
        EXPECT_STREQ(item.description, "JPG image");
        // One read per byte, in order, through the last byte of EOI.
        const std::vector<uint64_t> reads = reader.BytePositions();
        ASSERT_EQ(reads.size(), image.size());
        EXPECT_EQ(reads.front(), position);
        EXPECT_EQ(reads.back(), position + image.size() - 1);
        EXPECT_EQ(reader.Count(FakeReader::Kind::ReadBlock), 0u);
        EXPECT_EQ(reader.Count(FakeReader::Kind::GetSize), 0u);
    }
}

// Asked at every position, as a host scans: the one image is found once, and
// a position without FF D8 costs two reads.
TEST_F(PhotohoundHost, ScanFindsTheImageOnceAtItsStart) {
    const std::vector<uint8_t> image = ReadWholeFile(DataPath("baseline.jpg"));
    ASSERT_FALSE(image.empty());
    const std::vector<uint8_t> data = Embedded(image, 500, 500);
    FakeReader reader(data, 0, {0xFF, 0xC4});
    std::vector<uint64_t> found;
    for (uint64_t position = 0; position < data.size(); ++position) {
        FoundItem item = PoisonedItem();
        reader.ClearCalls();
        if (record_->Detect(0, reader.reader(), position, &item) == 1) {
            found.push_back(position);
            EXPECT_EQ(item.size, image.size());
        } else if (data[position] != 0xFF) {
            EXPECT_EQ(reader.calls().size(), 2u) << "at " << position;
        }
    }
    EXPECT_EQ(found, std::vector<uint64_t>{500});
}

}  // namespace
