// jpeghound.so loaded through the boundary, as a host would.
#include <gtest/gtest.h>

#include "fakes/fake_reader.h"
#include "module/module_helpers.h"
#include "photohound/jpeg_bytes.h"

namespace {

// SOI, DQT, SOF0, DC and AC tables, SOS, data, EOI: the least jpeghound takes.
Bytes StrictImage() {
    Bytes quant(65, 1);
    quant[0] = 0x00;
    Bytes dc = {0x00, 0, 2}, ac = {0x10, 0, 2};
    dc.resize(17, 0);
    ac.resize(17, 0);
    dc.insert(dc.end(), {0, 1});
    ac.insert(ac.end(), {0, 1});
    return Cat({Soi(), Segment(0xDB, quant), Sof0(), Segment(0xC4, dc), Segment(0xC4, ac), Sos(),
                EntropyData(), Eoi()});
}

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

    // Rejected: a Huffman table with Th 4; the item stays as it was.
    Bytes broken = image;
    broken[2 + 69 + 13 + 4] = 0x04;
    FakeReader bad(broken, at, {0xFF, 0xC4});
    const FoundItem before = PoisonedItem();
    item = before;
    EXPECT_EQ(record->Detect(0, bad.reader(), at, &item), 0u);
    EXPECT_TRUE(SameItem(item, before));
}

}  // namespace
