// jpeghound.so loaded through the boundary, as a host would.
#include <gtest/gtest.h>

#include "tests/fakes/fake_reader.h"
#include "tests/jpeg/jpeg_bytes.h"
#include "tests/module/module_helpers.h"

namespace {

TEST(JpeghoundSlots, DetectAnswersAtAnyPointOfTheLifecycle) {
    LoadedPlugin plugin(BuiltPlugin("jpeghound.so"));
    const PluginInterface* record = plugin.Record();
    EXPECT_EQ((void*)record->Finalize, (void*)record->Reload);
    EXPECT_EQ((void*)record->Finalize, (void*)record->Reserved);
    const Bytes image = StrictImage();
    const uint64_t at = (uint64_t{1} << 32) - 3;
    FakeReader reader(Cat({image, Eoi()}), at, {0xFF, 0xC4});

    FoundItem item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, reader.reader(), at, &item), 1u);  // before Initialize
    EXPECT_EQ(record->Initialize(7, 9), 1u);
    record->Finalize(1);
    record->Reload(2);
    record->Reserved(3);
    item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, reader.reader(), at, &item), 1u);
    EXPECT_EQ(item.offset, at);
    EXPECT_EQ(item.size, image.size());
    EXPECT_STREQ(item.extension, "jpg");
    EXPECT_STREQ(item.description, "JPG image");

    // Rejected: the first Huffman table with Th 4; the item stays as it was.
    Bytes broken = image;
    broken[2 + 69 + 13 + 4] = 0x04;
    FakeReader bad(broken, at, {0xFF, 0xC4});
    const FoundItem before = PoisonedItem();
    item = before;
    EXPECT_EQ(record->Detect(0, bad.reader(), at, &item), 0u);
    EXPECT_TRUE(SameItem(item, before));
}

}  // namespace
