// jpeghound.dll as a Windows host runs it, on JPEG files that cjpeg made:
// baseline, progressive and restart-marked images all found with their
// exact size inside other data, at positions above 2^32 too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/win32/win32_support.h"

namespace {

class JpeghoundHost : public PluginHostTest {
protected:
    JpeghoundHost() : PluginHostTest("jpeghound.dll") {}
};

// A JPEG between bytes without FF, as it lies inside a larger file.
std::vector<uint8_t> Embedded(const std::vector<uint8_t>& image, size_t before, size_t after) {
    std::vector<uint8_t> data;
    for (size_t i = 0; i < before; ++i) data.push_back(static_cast<uint8_t>(i * 7 % 0xFF));
    data.insert(data.end(), image.begin(), image.end());
    for (size_t i = 0; i < after; ++i) data.push_back(static_cast<uint8_t>(i % 0xFF));
    return data;
}

// Asked at every position, as a host scans: each image is found once, at
// its start, with its size, and only the gate bytes go through ReadByte.
TEST_F(JpeghoundHost, ScanFindsEachImageOnceWithItsSize) {
    const struct {
        const char* file;
        uint64_t base;
    } rows[] = {
        {"baseline.jpg", 0},
        {"baseline.jpg", 0xFFFFFF00ull},  // the walk crosses 2^32
        {"progressive.jpg", 0},
        {"restart.jpg", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " at " + std::to_string(row.base));
        const std::vector<uint8_t> image = ReadWholeFile(DataPath(row.file));
        ASSERT_GT(image.size(), 100u);
        const std::vector<uint8_t> data = Embedded(image, 300, 200);
        FakeReader reader(data, row.base, {0xFF, 0xC4});
        std::vector<uint64_t> found;
        for (uint64_t position = row.base; position < row.base + data.size(); ++position) {
            FoundItem item = PoisonedItem();
            reader.ClearCalls();
            if (record_->Detect(0, reader.reader(), position, &item) == 1) {
                found.push_back(position);
                EXPECT_EQ(item.size, image.size());
                EXPECT_STREQ(item.extension, "jpg");
                EXPECT_EQ(reader.Count(FakeReader::Kind::ReadByte), 3u);
            } else {
                EXPECT_TRUE(SameItem(item, PoisonedItem()));
            }
        }
        EXPECT_EQ(found, std::vector<uint64_t>{row.base + 300});
    }
}

// Cut one byte short, each image is rejected.
TEST_F(JpeghoundHost, ImagesCutShortAreRejected) {
    for (const char* file : {"baseline.jpg", "progressive.jpg", "restart.jpg"}) {
        SCOPED_TRACE(file);
        std::vector<uint8_t> image = ReadWholeFile(DataPath(file));
        ASSERT_GT(image.size(), 100u);
        image.pop_back();
        FakeReader reader(image, 0);
        FoundItem item = PoisonedItem();
        EXPECT_EQ(record_->Detect(0, reader.reader(), 0, &item), 0u);
        EXPECT_TRUE(SameItem(item, PoisonedItem()));
    }
}

}  // namespace
