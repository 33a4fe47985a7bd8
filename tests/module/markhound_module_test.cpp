// markhound.so loaded through the boundary, as a host would.
#include <gtest/gtest.h>

#include <cstring>

#include "fakes/fake_reader.h"
#include "module/module_helpers.h"

namespace {

TEST(MarkhoundRecord, HasMagicVersionAndZeroReservedWords) {
    LoadedPlugin plugin(BuiltPlugin("markhound.so"));
    const PluginInterface* record = plugin.Record();
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    EXPECT_EQ(bytes[0], 'K');
    EXPECT_EQ(bytes[1], 'X');
    EXPECT_EQ(bytes[2], 0x00);
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(record->reserved0, 0u);
    EXPECT_EQ(record->reserved1, 0u);
    for (auto slot : {(void*)record->Initialize, (void*)record->Finalize, (void*)record->Reload,
                      (void*)record->Reserved, (void*)record->Detect}) {
        EXPECT_NE(slot, nullptr);
    }
}

TEST(MarkhoundRecord, EveryQueryGivesTheSameRecord) {
    LoadedPlugin plugin(BuiltPlugin("markhound.so"));
    EXPECT_EQ(plugin.query()(plugin.handle()), plugin.query()(nullptr));
}

TEST(MarkhoundSlots, WithoutSignsIniNothingIsLoadedOrRead) {
    TempDir dir;
    LoadedPlugin plugin(CopyFile(BuiltPlugin("markhound.so"), dir.path() + "/markhound.so"));
    const PluginInterface* record = plugin.Record();
    FakeReader reader({0x42, 0x4D, 0, 0, 0, 0});
    const FoundItem before = PoisonedItem();
    FoundItem item = before;

    EXPECT_EQ(record->Initialize(0, 0), 0u);
    EXPECT_EQ(record->Detect(0, reader.reader(), 0, &item), 0u);
    record->Reload(0);
    record->Reserved(0);
    EXPECT_EQ(record->Detect(0, reader.reader(), 1, &item), 0u);
    record->Finalize(0);
    EXPECT_EQ(record->Detect(0, reader.reader(), 2, &item), 0u);
    EXPECT_TRUE(reader.calls().empty());
    EXPECT_TRUE(SameItem(item, before));
}

}  // namespace
