// OLE2 compound file rows: version 4, names below the root, and the damage
// that tool-made files do not show: chains that loop or point past the
// data, header fields out of range, marks and links that do not add up.
#include <algorithm>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

constexpr uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatMark = 0xFFFFFFFD, kNone = 0xFFFFFFFF;

struct Entry {
    std::string name;
    uint8_t type;  // 1 storage, 2 stream, 5 root
    uint32_t child = kNone, right = kNone, start = kEnd, size = 0;
};

Bytes DirEntry(const Entry& e) {
    Bytes name(64, 0);
    for (size_t i = 0; i < e.name.size(); ++i) name[2 * i] = static_cast<uint8_t>(e.name[i]);
    return Cat({name, Le16(static_cast<uint32_t>(2 * e.name.size() + 2)), {e.type, 1}, Le32(kNone), Le32(e.right),
                Le32(e.child), Bytes(36, 0), Le32(e.start), Le32(e.size), Le32(0)});
}

// A header whose FAT is sector 0 and directory sector 1, then the sectors
// FAT, directory (entries, the rest unused) and stream data.
Bytes Ole(uint32_t major, const std::vector<uint32_t>& fat, const std::vector<Entry>& entries, uint32_t data) {
    const size_t sector = major == 3 ? 512 : 4096;
    Bytes header = Cat({{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}, Bytes(16, 0), Le16(0x3E), Le16(major),
                        Le16(0xFFFE), Le16(major == 3 ? 9 : 12), Le16(6), Bytes(10, 0), Le32(1), Le32(1), Le32(0),
                        Le32(4096), Le32(kEnd), Le32(0), Le32(kEnd), Le32(0), Le32(0)});
    for (int i = 1; i < 109; ++i) header = Cat({header, Le32(kFree)});
    header.resize(sector, 0);
    Bytes table, directory;
    for (const uint32_t entry : fat) table = Cat({table, Le32(entry)});
    table.resize(sector, 0xFF);
    for (const Entry& entry : entries) directory = Cat({directory, DirEntry(entry)});
    directory.resize(sector, 0);
    return Cat({header, table, directory, Bytes(data, 0x5A)});
}

Bytes With(Bytes bytes, size_t at, const Bytes& value) {
    std::copy(value.begin(), value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

}  // namespace

std::vector<Case> Ole2Cases() {
    // Version 3: a 4608-byte stream in sectors 2 to 10.
    const std::vector<uint32_t> fat = {kFatMark, kEnd, 3, 4, 5, 6, 7, 8, 9, 10, kEnd};
    const Entry root = {"Root Entry", 5, 1}, word = {"WordDocument", 2, kNone, kNone, 2, 4608};
    const Bytes doc = Ole(3, fat, {root, word}, 4608);
    // Version 4: 4096-byte sectors, a 5000-byte stream in sectors 2 and 3.
    const Bytes xls = Ole(4, {kFatMark, kEnd, 3, kEnd}, {root, {"Workbook", 2, kNone, kNone, 2, 5000}}, 8192);
    const Bytes nested = Ole(3, fat, {root, {"Sub", 1, 2}, {"Workbook", 2, kNone, kNone, 2, 4608}}, 4608);
    const size_t fat_at = 512, dir_at = 1024;
    return {
        {"OLE2 version 3 doc, then other bytes", Cat({doc, Text("after")}), 6144, "doc"},
        {"OLE2 version 4 xls", xls, 5 * 4096, "xls"},
        {"OLE2 Workbook below a storage is no xls", nested, 6144, "ole"},
        {"OLE2 cut short", Bytes(doc.begin(), doc.end() - 1), 0, ""},
        {"OLE2 directory chain loops",
         Cat({With(With(doc, fat_at + 4, Le32(11)), fat_at + 44, Le32(1)), Bytes(512, 0)}), 0, ""},
        {"OLE2 FAT points past the data", With(doc, fat_at + 36, Le32(5000)), 0, ""},
        {"OLE2 byte order reversed", With(doc, 28, Le16(0xFEFF)), 0, ""},
        {"OLE2 version 3 of 4096-byte sectors", With(doc, 30, Le16(12)), 0, ""},
        {"OLE2 FAT sector not marked", With(doc, fat_at, Le32(kEnd)), 0, ""},
        {"OLE2 header lists a FAT sector it does not count", With(doc, 80, Le32(0)), 0, ""},
        {"OLE2 link to no entry", With(doc, dir_at + 76, Le32(9)), 0, ""},
        {"OLE2 sibling links loop", With(doc, dir_at + 128 + 72, Le32(1)), 0, ""},
        {"OLE2 root not first", With(doc, dir_at + 66, {1}), 0, ""},
        {"OLE2 mini FAT shorter than counted", With(With(doc, 60, Le32(10)), 64, Le32(2)), 0, ""},
    };
}

}  // namespace formathound_test
