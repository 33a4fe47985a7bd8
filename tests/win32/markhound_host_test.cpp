// markhound.dll end to end as a Windows host runs it: copied into a folder
// with a signs.ini and included files, loaded with LoadLibraryA, and asked
// through its record; the real profile functions read the signatures.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/win32/win32_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

constexpr char kSigns[] =
    "; signatures for the host test\r\n"
    "[BMP picture]\r\n"
    "Signature='B,'M\r\n"
    "SizeOff=2\r\n"
    "SizeSize=4\r\n"
    "Ext=bmp\r\n"
    "\r\n"
    "[;old BMP picture]\r\n"
    "Signature='B\r\n"
    "SizeOff=1\r\n"
    "SizeSize=1\r\n"
    "\r\n"
    "[GIF picture]\r\n"
    "SignatureStart=0x47,0x49,0x46,0x38,?,61h\r\n"
    "SignatureEnd=0,0x3B\r\n"
    "EndOffset=2\r\n"
    "Ext=gif\r\n"
    "\r\n"
    "[more]\r\n"
    "Include=extra\\more.ini\r\n";

constexpr char kMore[] =
    "[Tagged record]\n"
    "Signature='T,'A,'G,?\n"
    "SizeOff=4\n"
    "SizeSize=2\n"
    "SizeAddon=6\n"
    "Ext=tag\n";

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// markhound copied into a fresh folder, with whatever signature files the
// test writes beside it before Load.
class MarkhoundHost : public ::testing::Test {
protected:
    void Load() {
        dll_path_ = folder_.CopyIn(PluginPath("markhound.dll"));
        dll_.reset(new LoadedDll(dll_path_));
        ASSERT_NE(dll_->handle(), nullptr);
        ASSERT_NE(dll_->query(), nullptr);
        record_ = dll_->query()(dll_->handle());
        ASSERT_NE(record_, nullptr);
    }
    void TearDown() override {
        if (record_ != nullptr) record_->Finalize(0);
        dll_.reset();
    }
    // A file written with a stamp of its own: the profile functions keep a
    // file they have read until its modification time changes.
    void WriteStamped(const std::string& relative, const std::string& content, int seconds_ahead) {
        const std::string path = folder_.Write(relative, content);
        HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER stamp{{now.dwLowDateTime, now.dwHighDateTime}};
        stamp.QuadPart += static_cast<ULONGLONG>(seconds_ahead) * 10000000u;
        const FILETIME when{stamp.LowPart, stamp.HighPart};
        SetFileTime(file, nullptr, nullptr, &when);
        CloseHandle(file);
    }
    uint32_t Detect(const FakeReader& reader, uint64_t position, FoundItem* item) const {
        return record_->Detect(0, reader.reader(), position, item);
    }

    TempFolder folder_;
    std::string dll_path_;
    std::unique_ptr<LoadedDll> dll_;
    const PluginInterface* record_ = nullptr;
};

TEST_F(MarkhoundHost, FindsItemsOfSignsIniAndItsIncludes) {
    folder_.Write("signs.ini", kSigns);
    folder_.Write("extra\\more.ini", kMore);
    Load();
    ASSERT_EQ(record_->Initialize(0, 0), 1u);

    struct Row {
        const char* what;
        std::string data;
        uint64_t base;
        uint64_t position;
        uint32_t found;
        uint64_t size;
        const char* extension;
        const char* description;
    };
    const std::string bmp = std::string("BM\x20\0\0\0", 6) + std::string(26, 'x');
    const std::string gif = std::string("GIF89a") + "data" + std::string("\0;", 2) + "zz";
    const std::string tag = std::string("TAG\x01\x03\x00", 6) + "abcdefghi";
    const Row rows[] = {
        {"sized: size field at SizeOff", bmp, 0, 0, 1, 0x20, "bmp", "BMP picture"},
        {"sized above 2^32", bmp, 0x100000000ull, 0x100000000ull, 1, 0x20, "bmp", "BMP picture"},
        {"bounded: up to the end pattern plus EndOffset", gif, 0, 0, 1, 12, "gif", "GIF picture"},
        {"included file, wildcard and SizeAddon", tag, 0, 0, 1, 9, "tag", "Tagged record"},
        {"switched-off section finds nothing", "B\x05xxxxxx", 0, 0, 0, 0, nullptr, nullptr},
        {"no signature at this position", bmp, 0, 1, 0, 0, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeReader reader(Bytes(row.data), row.base);
        const FoundItem before = PoisonedItem();
        FoundItem item = before;
        ASSERT_EQ(Detect(reader, row.position, &item), row.found);
        if (row.found == 0) {
            EXPECT_TRUE(SameItem(item, before));
            continue;
        }
        EXPECT_EQ(item.offset, row.position);
        EXPECT_EQ(item.size, row.size);
        EXPECT_STREQ(item.extension, row.extension);
        EXPECT_STREQ(item.description, row.description);
    }
}

TEST_F(MarkhoundHost, WithoutSignsIniNothingIsLoadedAndTheReaderIsNotAsked) {
    Load();
    EXPECT_EQ(record_->Initialize(0, 0), 0u);
    FakeReader reader(Bytes("BM\x20\0\0\0"));
    FoundItem item = PoisonedItem();
    EXPECT_EQ(Detect(reader, 0, &item), 0u);
    EXPECT_TRUE(reader.calls().empty());
}

TEST_F(MarkhoundHost, ReloadReadsTheChangedFileAndFinalizeEmptiesTheList) {
    WriteStamped("signs.ini", "[Old]\r\nSignature='O\r\nSizeOff=1\r\nSizeSize=1\r\nExt=old\r\n", 0);
    Load();
    ASSERT_EQ(record_->Initialize(0, 0), 1u);
    FakeReader old_data(Bytes("O\x07"));
    FakeReader new_data(Bytes("N\x09"));
    FoundItem item = PoisonedItem();
    EXPECT_EQ(Detect(old_data, 0, &item), 1u);
    EXPECT_EQ(Detect(new_data, 0, &item), 0u);

    WriteStamped("signs.ini", "[New]\r\nSignature='N\r\nSizeOff=1\r\nSizeSize=1\r\nExt=new\r\n", 10);
    record_->Reload(0);
    EXPECT_EQ(Detect(old_data, 0, &item), 0u);
    ASSERT_EQ(Detect(new_data, 0, &item), 1u);
    EXPECT_EQ(item.size, 9u);
    EXPECT_STREQ(item.extension, "new");

    record_->Finalize(0);
    EXPECT_EQ(Detect(new_data, 0, &item), 0u);
}

TEST_F(MarkhoundHost, FolderWithBlanksAndDotsInItsName) {
    folder_.Write("a folder. with blanks\\signs.ini", kSigns);
    folder_.Write("a folder. with blanks\\more.ini", kMore);  // found by its file name
    const std::string dll = folder_.path() + "\\a folder. with blanks\\markhound.dll";
    ASSERT_TRUE(CopyFileA(PluginPath("markhound.dll").c_str(), dll.c_str(), FALSE));
    LoadedDll loaded(dll);
    ASSERT_NE(loaded.handle(), nullptr);
    const PluginInterface* record = loaded.query()(loaded.handle());
    ASSERT_EQ(record->Initialize(0, 0), 1u);
    FakeReader reader(Bytes(std::string("TAG\x01\x03\x00", 6)));
    FoundItem item = PoisonedItem();
    EXPECT_EQ(record->Detect(0, reader.reader(), 0, &item), 1u);
    EXPECT_STREQ(item.description, "Tagged record");
    record->Finalize(0);
}

// The library that ships beside the built plug-in loads under Windows too.
TEST(MarkhoundDefaultLibrary, LoadsBesideTheBuiltPlugin) {
    LoadedDll dll(PluginPath("markhound.dll"));
    ASSERT_NE(dll.handle(), nullptr);
    const PluginInterface* record = dll.query()(dll.handle());
    EXPECT_EQ(record->Initialize(0, 0), 1u);
    record->Finalize(0);
}

}  // namespace
