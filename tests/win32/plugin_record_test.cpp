// The plug-in DLLs as a Windows host sees them: one export at ordinal 1, only
// system DLLs imported, the 32-byte record, and every slot callee-cleans.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fakes/fake_reader.h"
#include "tests/jpeg/jpeg_bytes.h"
#include "tests/win32/stdcall_probe.h"
#include "tests/win32/win32_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

std::vector<std::string> PluginNames() {
    return {"markhound.dll", "photohound.dll", "jpeghound.dll", "formathound.dll"};
}

// A plug-in copied alone into a fresh folder, so that nothing beside it
// (such as a signs.ini) changes what its slots do.
class IsolatedPlugin {
public:
    explicit IsolatedPlugin(const std::string& name)
        : copy_(folder_.CopyIn(PluginPath(name))), dll_(copy_) {}
    const LoadedDll& dll() const { return dll_; }

private:
    TempFolder folder_;
    std::string copy_;
    LoadedDll dll_;
};

uint32_t Word(const uint8_t* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

bool InsideModule(void* module, const void* address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) == 0) return false;
    return info.AllocationBase == module;
}

uint32_t KX_CALL CalleeCleans(uint32_t a, uint32_t b, uint32_t c) { return a + b + c; }
extern "C" __attribute__((cdecl)) uint32_t CallerCleans(uint32_t a, uint32_t b, uint32_t c) {
    return a + b + c;
}
uint64_t KX_CALL WideResult(uint32_t low, uint32_t high) {
    return (static_cast<uint64_t>(high) << 32) | low;
}

TEST(StackProbe, TellsCalleeCleansFromCallerCleans) {
    struct Row {
        const char* what;
        const void* function;
        std::vector<uint32_t> args;
        uint64_t result_mask;
        uint64_t result;
        int32_t imbalance;
    };
    const Row rows[] = {
        {"stdcall removes its three slots", reinterpret_cast<const void*>(&CalleeCleans),
         {1, 2, 3}, 0xFFFFFFFFu, 6, 0},
        {"cdecl leaves its three slots", reinterpret_cast<const void*>(&CallerCleans),
         {1, 2, 3}, 0xFFFFFFFFu, 6, -12},
        {"64-bit result in EDX:EAX", reinterpret_cast<const void*>(&WideResult),
         {0x89ABCDEFu, 0x01234567u}, ~0ull, 0x0123456789ABCDEFull, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ProbedCall call = CallProbed(row.function, row.args);
        EXPECT_EQ(call.result & row.result_mask, row.result);
        EXPECT_EQ(call.imbalance, row.imbalance);
    }
}

TEST(PluginExports, OneUndecoratedNameAtOrdinalOne) {
    for (const std::string& name : PluginNames()) {
        SCOPED_TRACE(name);
        LoadedDll dll(PluginPath(name));
        ASSERT_NE(dll.handle(), nullptr);
        const std::vector<ExportEntry> exports = ModuleExports(dll.handle());
        ASSERT_EQ(exports.size(), 1u);
        EXPECT_EQ(exports[0].ordinal, 1u);
        EXPECT_EQ(exports[0].name, KX_QUERY_INTERFACE_NAME);
        EXPECT_NE(dll.ByName(KX_QUERY_INTERFACE_NAME), nullptr);
        EXPECT_EQ(dll.ByOrdinal(1), dll.ByName(KX_QUERY_INTERFACE_NAME));
        EXPECT_EQ(dll.ByOrdinal(2), nullptr);
        EXPECT_EQ(dll.ByName("_KX_QueryInterface@4"), nullptr);
        EXPECT_EQ(dll.ByName("KX_QueryInterface@4"), nullptr);
    }
}

TEST(PluginImports, OnlyTheSystemsOwnDlls) {
    const char* const allowed[] = {"kernel32.dll", "user32.dll", "msvcrt.dll"};
    for (const std::string& name : PluginNames()) {
        SCOPED_TRACE(name);
        LoadedDll dll(PluginPath(name));
        ASSERT_NE(dll.handle(), nullptr);
        const std::vector<std::string> imports = ModuleImports(dll.handle());
        EXPECT_FALSE(imports.empty());
        for (const std::string& import : imports) {
            bool known = false;
            for (const char* system : allowed) known = known || _stricmp(import.c_str(), system) == 0;
            EXPECT_TRUE(known) << "imports " << import;
        }
    }
}

TEST(PluginRecord, ThirtyTwoBytesWithMagicVersionAndZeroWords) {
    for (const std::string& name : PluginNames()) {
        SCOPED_TRACE(name);
        IsolatedPlugin plugin(name);
        ASSERT_NE(plugin.dll().query(), nullptr);
        const PluginInterface* record = plugin.dll().query()(plugin.dll().handle());
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(plugin.dll().query()(nullptr), record);
        EXPECT_TRUE(InsideModule(plugin.dll().handle(), record));
        const auto* bytes = reinterpret_cast<const uint8_t*>(record);
        const uint8_t head[4] = {'K', 'X', 0x00, 0x01};
        EXPECT_EQ(std::memcmp(bytes, head, 4), 0);
        EXPECT_EQ(Word(bytes), 0x0100584Bu);
        EXPECT_EQ(Word(bytes + 4), 0u);
        EXPECT_EQ(Word(bytes + 28), 0u);
        for (int offset = 8; offset <= 24; offset += 4) {
            SCOPED_TRACE(offset);
            const void* slot = reinterpret_cast<const void*>(static_cast<uintptr_t>(Word(bytes + offset)));
            EXPECT_TRUE(InsideModule(plugin.dll().handle(), slot));
        }
    }
}

// The smallest stream photohound accepts: SOI, a frame header, EOI.
const std::vector<uint8_t> kTinyJpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01,
                                        0x00, 0x01, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};

// The smallest movie formathound accepts: ftyp, a moov with its mvhd, mdat.
const std::vector<uint8_t> kTinyMp4 = {0, 0, 0, 20, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 0, 0,
                                       'i', 's', 'o', 'm', 0, 0, 0, 16, 'm', 'o', 'o', 'v', 0, 0, 0, 8,
                                       'm', 'v', 'h', 'd', 0, 0, 0, 9, 'm', 'd', 'a', 't', 0};

// Every slot and the export, called through raw addresses: each must remove
// exactly its own argument slots, and a position above 2^32 must arrive whole.
TEST(PluginSlots, EveryCallRemovesItsArguments) {
    struct Row {
        std::string name;
        uint32_t initialize;  // alone in a folder: markhound finds no signs.ini
        std::vector<uint8_t> data;
        uint32_t detect;      // on data
    };
    const Row rows[] = {{"markhound.dll", 0, kTinyJpeg, 0},
                        {"photohound.dll", 1, kTinyJpeg, 1},
                        {"jpeghound.dll", 1, StrictImage(), 1},
                        {"formathound.dll", 1, kTinyMp4, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        IsolatedPlugin plugin(row.name);
        const void* query = plugin.dll().ByOrdinal(1);
        ASSERT_NE(query, nullptr);
        ProbedCall call = CallProbed(query, {Slot(plugin.dll().handle())});
        EXPECT_EQ(call.imbalance, 0) << "KX_QueryInterface";
        const auto* record = reinterpret_cast<const PluginInterface*>(
            static_cast<uintptr_t>(static_cast<uint32_t>(call.result)));
        ASSERT_EQ(record, plugin.dll().query()(plugin.dll().handle()));

        call = CallProbed(reinterpret_cast<const void*>(record->Initialize), {7, 9});
        EXPECT_EQ(call.imbalance, 0) << "Initialize";
        EXPECT_EQ(static_cast<uint32_t>(call.result), row.initialize);

        const uint64_t position = 0xFFFFFFFEull;  // the walk crosses 2^32
        FakeReader reader(row.data, position);
        const FoundItem before = PoisonedItem();
        FoundItem item = before;
        call = CallProbed(reinterpret_cast<const void*>(record->Detect),
                          {7, Slot(reader.reader()), static_cast<uint32_t>(position),
                           static_cast<uint32_t>(position >> 32), Slot(&item)});
        EXPECT_EQ(call.imbalance, 0) << "Detect";
        EXPECT_EQ(static_cast<uint32_t>(call.result), row.detect);
        if (row.detect == 1) {
            EXPECT_EQ(item.offset, position);
            EXPECT_EQ(item.size, row.data.size());
            // The last byte read, by ReadByte or ReadBlock, is the item's last.
            uint64_t end = 0;
            for (const FakeReader::Call& read : reader.calls()) end = std::max(end, read.position + read.count);
            EXPECT_EQ(end, position + row.data.size());
        } else {
            EXPECT_TRUE(SameItem(item, before));
            EXPECT_TRUE(reader.calls().empty());
        }

        const struct {
            const char* slot;
            const void* function;
        } one_argument[] = {
            {"Reload", reinterpret_cast<const void*>(record->Reload)},
            {"Reserved", reinterpret_cast<const void*>(record->Reserved)},
            {"Finalize", reinterpret_cast<const void*>(record->Finalize)},
        };
        for (const auto& slot : one_argument) {
            SCOPED_TRACE(slot.slot);
            EXPECT_EQ(CallProbed(slot.function, {7}).imbalance, 0);
        }
    }
}

}  // namespace
