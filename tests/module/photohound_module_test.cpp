// photohound.so loaded through the boundary, as a host would.
#include <gtest/gtest.h>

#include "tests/fakes/fake_reader.h"
#include "tests/jpeg/jpeg_bytes.h"
#include "tests/module/module_helpers.h"

namespace {

TEST(PhotohoundRecord, FinalizeReloadAndReservedAreOneFunction) {
    LoadedPlugin plugin(BuiltPlugin("photohound.so"));
    const PluginInterface* record = plugin.Record();
    EXPECT_EQ((void*)record->Finalize, (void*)record->Reload);
    EXPECT_EQ((void*)record->Finalize, (void*)record->Reserved);
    EXPECT_NE((void*)record->Finalize, (void*)record->Initialize);
}

TEST(PhotohoundSlots, DetectAnswersAtAnyPointOfTheLifecycle) {
    LoadedPlugin plugin(BuiltPlugin("photohound.so"));
    const PluginInterface* record = plugin.Record();
    const Bytes image = BaselineImage();
    const uint64_t at = (uint64_t{1} << 32) - 3;
    FakeReader reader(Cat({image, Eoi()}), at, {0xFF, 0xC4});

    FoundItem item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, reader.reader(), at, &item), 1u);  // before Initialize
    EXPECT_EQ(record->Initialize(7, 9), 1u);
    record->Finalize(1);
    record->Reload(2);
    record->Reserved(3);
    EXPECT_EQ(record->Initialize(0, 0), 1u);
    item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, reader.reader(), at, &item), 1u);
    EXPECT_EQ(item.offset, at);
    EXPECT_EQ(item.size, image.size());
    EXPECT_STREQ(item.extension, "jpg");
    EXPECT_STREQ(item.description, "JPG image");
    EXPECT_EQ(reader.Count(FakeReader::Kind::ReadByte), 2 * image.size());
    EXPECT_EQ(reader.Count(FakeReader::Kind::ReadBlock), 0u);
    EXPECT_EQ(reader.Count(FakeReader::Kind::GetSize), 0u);
}

TEST(PhotohoundSlots, RejectedCandidatesLeaveTheItemAlone) {
    LoadedPlugin plugin(BuiltPlugin("photohound.so"));
    const PluginInterface* record = plugin.Record();
    const struct {
        const char* label;
        Bytes data;
        size_t reads;
    } rows[] = {
        {"fill byte before SOI", {0xFF, 0xFF, 0xD8, 0xFF, 0xD9}, 2},
        {"DRI of length 5", Cat({Soi(), Marker(0xDD), Word(5), Sof0(), Eoi()}), 6},
        {"restart marker in the data", Cat({Soi(), Sof0(), Sos(), {0x01, 0xFF, 0xD0}, Eoi()}), 28},
        // The host's fill pattern past the data: FF C4 fails the walk at once.
        {"truncated scan", Cat({Soi(), Sof0(), Sos(), {0x01}}), 28},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        FakeReader reader(row.data, 100, {0xFF, 0xC4});
        const FoundItem before = PoisonedItem();
        FoundItem item = before;
        EXPECT_EQ(record->Detect(0, reader.reader(), 100, &item), 0u);
        EXPECT_TRUE(SameItem(item, before));
        EXPECT_EQ(reader.Count(FakeReader::Kind::ReadByte), row.reads);
    }
}

}  // namespace
