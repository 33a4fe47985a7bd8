// formathound.dll as a Windows host runs it, on small files that the
// formats' own tools made: each found once with its exact size and
// extension inside other data, at positions above 2^32 too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/win32/win32_support.h"

namespace {

class FormathoundHost : public PluginHostTest {
protected:
    FormathoundHost() : PluginHostTest("formathound.dll") {}
};

struct MediaFile {
    const char* file;
    const char* extension;
};

const MediaFile kFiles[] = {
    {"tiny.mp4", "mp4"}, {"tiny.mkv", "mkv"}, {"tiny.ogg", "ogg"}, {"tiny.flac", "flac"},
    {"tiny.mp3", "mp3"}, {"tiny.aiff", "aiff"}, {"tiny.flv", "flv"}, {"tiny.ts", "ts"},
    {"tiny.wma", "wma"}, {"tiny.avi", "avi"},
};

// The file between bytes that start no item.
std::vector<uint8_t> Embedded(const std::vector<uint8_t>& file, size_t before, size_t after) {
    std::vector<uint8_t> data;
    for (size_t i = 0; i < before; ++i) data.push_back(static_cast<uint8_t>(i * 13 + 1));
    data.insert(data.end(), file.begin(), file.end());
    for (size_t i = 0; i < after; ++i) data.push_back(static_cast<uint8_t>(i * 13 + 1));
    return data;
}

TEST_F(FormathoundHost, ScanFindsEachFileOnceWithItsSize) {
    for (const MediaFile& row : kFiles) {
        for (const uint64_t base : {uint64_t{0}, uint64_t{0xFFFFFF00}}) {
            SCOPED_TRACE(std::string(row.file) + " at " + std::to_string(base));
            const std::vector<uint8_t> file = ReadWholeFile(DataPath(row.file));
            ASSERT_GT(file.size(), 100u);
            const std::vector<uint8_t> data = Embedded(file, 300, 200);
            FakeReader reader(data, base);
            std::vector<uint64_t> found;
            // Past each item once found, as a host scans: the frames and
            // packets inside a stream would each start an item of their own.
            for (uint64_t position = base; position < base + data.size(); ++position) {
                FoundItem item = PoisonedItem();
                if (record_->Detect(0, reader.reader(), position, &item) == 1) {
                    found.push_back(position);
                    EXPECT_EQ(item.size, file.size());
                    EXPECT_STREQ(item.extension, row.extension);
                    if (item.size > 0) position += item.size - 1;
                } else {
                    EXPECT_TRUE(SameItem(item, PoisonedItem()));
                }
            }
            EXPECT_EQ(found, std::vector<uint64_t>{base + 300});
        }
    }
}

}  // namespace
