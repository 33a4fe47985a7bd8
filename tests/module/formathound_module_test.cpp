// formathound.so loaded through the boundary, as a host would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/module/module_helpers.h"

namespace {

// ftyp, a moov with its movie header, and media data.
std::vector<uint8_t> TinyMovie() {
    const std::string bytes("\0\0\0\x14" "ftypisom\0\0\0\0isom" "\0\0\0\x10" "moov\0\0\0\x08mvhd"
                            "\0\0\0\x09mdat\x55", 45);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

TEST(FormathoundSlots, DetectAnswersAtAnyPointOfTheLifecycle) {
    LoadedPlugin plugin(BuiltPlugin("formathound.so"));
    const PluginInterface* record = plugin.Record();
    const std::vector<uint8_t> movie = TinyMovie();
    const uint64_t at = (uint64_t{1} << 32) - 3;
    std::vector<uint8_t> data = movie;
    data.insert(data.end(), {'t', 'a', 'i', 'l'});
    FakeReader reader(data, at);

    FoundItem item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, reader.reader(), at, &item), 1u);  // before Initialize
    EXPECT_EQ(record->Initialize(7, 9), 1u);
    record->Finalize(1);
    record->Reload(2);
    record->Reserved(3);
    item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, reader.reader(), at, &item), 1u);
    EXPECT_EQ(item.offset, at);
    EXPECT_EQ(item.size, movie.size());
    EXPECT_STREQ(item.extension, "mp4");

    // Without its media data it is no movie; the item stays as it was.
    FakeReader cut(std::vector<uint8_t>(movie.begin(), movie.begin() + 36), at);
    item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, cut.reader(), at, &item), 0u);
    EXPECT_TRUE(SameItem(item, PoisonedItem()));
}

}  // namespace
