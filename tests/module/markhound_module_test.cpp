// markhound.so loaded through the boundary, as a host would.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/fakes/fake_reader.h"
#include "tests/module/module_helpers.h"

namespace {

TEST(PluginRecord, HasMagicVersionSlotsAndZeroReservedWords) {
    for (const char* file : {"markhound.so", "photohound.so", "jpeghound.so"}) {
        SCOPED_TRACE(file);
        LoadedPlugin plugin(BuiltPlugin(file));
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
        EXPECT_EQ(plugin.query()(nullptr), record);  // every query gives the same record
    }
}

// The dynamic symbol table, as nm lists it: the one export and nothing else.
TEST(PluginExports, OnlyTheQueryFunction) {
    for (const char* file : {"markhound.so", "photohound.so", "jpeghound.so"}) {
        SCOPED_TRACE(file);
        const std::string command = "nm -D --defined-only " + BuiltPlugin(file);
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string names;
        char line[512];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            const char* name = std::strrchr(line, ' ');
            names += name != nullptr ? name + 1 : line;
        }
        EXPECT_EQ(pclose(pipe), 0);
        EXPECT_EQ(names, std::string(KX_QUERY_INTERFACE_NAME) + "\n");
    }
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

namespace {

// A folder holding a copy of markhound.so with signature files beside it.
class MarkhoundFolder : public testing::Test {
protected:
    MarkhoundFolder()
        : plugin_path(CopyFile(BuiltPlugin("markhound.so"), dir.path() + "/markhound.so")) {}
    TempDir dir;
    std::string plugin_path;
};

uint32_t DetectAt(const PluginInterface* record, FakeReader& reader, uint64_t position,
                  FoundItem* item) {
    return record->Detect(0x1234, reader.reader(), position, item);
}

TEST_F(MarkhoundFolder, FindsItemsOfSignsIniAndItsIncludesThroughTheRecord) {
    dir.Write("signs.ini",
              "[Box]\nSignature='B,'O,'X\nSizeOff=3\nSizeSize=1\nSizeAddon=4\nExt=box\n"
              "[more]\nInclude=sub\\more.ini\n");
    dir.Write("sub/more.ini", "[Tagged]\nSignatureStart='<,'t\nSignatureEnd='>\nEndOffset=1\nExt=tag\n");
    LoadedPlugin plugin(plugin_path);
    const PluginInterface* record = plugin.Record();
    ASSERT_EQ(record->Initialize(0, 0), 1u);

    //                         0    1    2    3  4  5  6  7    8    9    10   11   12
    FakeReader reader({'B', 'O', 'X', 2, 9, 9, 0, '<', 't', 'x', 'y', '>', 0, 0});
    FoundItem item = PoisonedItem();
    ASSERT_EQ(DetectAt(record, reader, 0, &item), 1u);
    EXPECT_EQ(item.offset, 0u);
    EXPECT_EQ(item.size, 6u);  // field 2 + addon 4
    EXPECT_STREQ(item.extension, "box");
    EXPECT_STREQ(item.description, "Box");
    ASSERT_EQ(DetectAt(record, reader, 7, &item), 1u);
    EXPECT_EQ(item.offset, 7u);
    EXPECT_EQ(item.size, 5u);  // '<' to '>' inclusive
    EXPECT_STREQ(item.extension, "tag");
    const FoundItem before = item;
    EXPECT_EQ(DetectAt(record, reader, 1, &item), 0u);
    EXPECT_TRUE(SameItem(item, before));
    record->Finalize(0);
}

TEST_F(MarkhoundFolder, ReloadReadsTheChangedFileAndFinalizeEmptiesTheList) {
    dir.Write("signs.ini", "[One]\nSignature=1\nSizeSize=1\nExt=one\n");
    LoadedPlugin plugin(plugin_path);
    const PluginInterface* record = plugin.Record();
    FakeReader reader({1, 5, 2, 7});
    FoundItem item = PoisonedItem();
    ASSERT_EQ(record->Initialize(0, 0), 1u);
    EXPECT_EQ(DetectAt(record, reader, 0, &item), 1u);
    EXPECT_EQ(DetectAt(record, reader, 2, &item), 0u);

    dir.Write("signs.ini", "[Two]\nSignature=2\nSizeOff=1\nSizeSize=1\nExt=two\n");
    record->Reload(0);
    EXPECT_EQ(DetectAt(record, reader, 0, &item), 0u);
    ASSERT_EQ(DetectAt(record, reader, 2, &item), 1u);
    EXPECT_STREQ(item.extension, "two");
    EXPECT_EQ(item.size, 7u);

    record->Finalize(0);
    reader.ClearCalls();
    EXPECT_EQ(DetectAt(record, reader, 2, &item), 0u);
    EXPECT_TRUE(reader.calls().empty());

    ASSERT_EQ(record->Initialize(0, 0), 1u);  // a second Initialize reads the file again
    EXPECT_EQ(DetectAt(record, reader, 2, &item), 1u);
    record->Finalize(0);
}

TEST_F(MarkhoundFolder, TheLatestModuleHandleDecidesWhereSignsIniIsLookedFor) {
    dir.Write("signs.ini", "[One]\nSignature=1\nSizeSize=1\n");
    LoadedPlugin plugin(plugin_path);
    // A null handle means the host's program, whose folder has no signs.ini.
    const PluginInterface* record = plugin.query()(nullptr);
    EXPECT_EQ(record->Initialize(0, 0), 0u);
    EXPECT_EQ(plugin.query()(plugin.handle()), record);
    EXPECT_EQ(record->Initialize(0, 0), 1u);
    record->Finalize(0);
}

}  // namespace
