// SQLite 3 database rows: the page count that holds, and the walk of
// b-trees and freelist where it does not, with the damage tool-made files
// do not show: loops, pages past the data, header fields out of range.
#include <algorithm>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

constexpr size_t kPage = 512;

// The header for 512-byte pages: change counter, page count, freelist and
// the "version valid for" number.
Bytes Header(uint32_t counter, uint32_t pages, uint32_t valid_for, uint32_t trunk = 0, uint32_t free = 0) {
    return Cat({Text("SQLite format 3"), {0}, Be16(kPage), {1, 1, 0, 64, 32, 32}, Be32(counter), Be32(pages),
                Be32(trunk), Be32(free), Be32(1), Be32(4), Be32(0), Be32(0), Be32(1), Be32(0), Be32(0), Be32(0),
                Bytes(20, 0), Be32(valid_for), Be32(3040001)});
}

// A b-tree page of that type (13 table leaf, 5 table interior, 10 index
// leaf) whose header stands at start, with its cells at the page's end.
Bytes Page(size_t start, uint8_t type, const std::vector<Bytes>& cells, uint32_t right = 0) {
    Bytes page(kPage, 0);
    size_t end = kPage, pointer = start + (type == 5 ? 12 : 8);
    const Bytes head = Cat({{type, 0, 0}, Be16(static_cast<uint32_t>(cells.size())), Be16(0), {0}, Be32(right)});
    std::copy(head.begin(), head.begin() + (type == 5 ? 12 : 8), page.begin() + static_cast<std::ptrdiff_t>(start));
    for (const Bytes& cell : cells) {
        end -= cell.size();
        std::copy(cell.begin(), cell.end(), page.begin() + static_cast<std::ptrdiff_t>(end));
        page[pointer++] = static_cast<uint8_t>(end >> 8);
        page[pointer++] = static_cast<uint8_t>(end);
    }
    return page;
}

// Page 1: the header, then the schema table listing table t at root.
Bytes First(const Bytes& header, uint8_t root) {
    const Bytes record = Cat({{6, 23, 15, 15, 1, 47}, Text("tablett"), {root}, Text("create table t(a)")});
    const Bytes page = Page(100, 13, {Cat({{static_cast<uint8_t>(record.size()), 1}, record})});
    return Cat({header, Bytes(page.begin() + 100, page.end())});
}

}  // namespace

std::vector<Case> SqliteCases() {
    // Counter 5 against "version valid for" 0: the count is not kept.
    const Bytes old = Header(5, 0, 0), empty = Page(0, 13, {});
    const Bytes counted = Cat({First(Header(1, 3, 1), 2), empty, Bytes(kPage, 0)});
    const Bytes trunk = Cat({Be32(0), Be32(1), Be32(4)});
    Bytes bad_size = counted, bad_fraction = counted, bad_reserved = counted;
    bad_size[16] = 0x03;  // 1000 bytes
    bad_fraction[23] = 33;
    bad_reserved[80] = 1;
    return {
        {"SQLite page count kept", Cat({counted, Text("after")}), 3 * kPage, "sqlite"},
        {"SQLite page count kept, cut short", Bytes(counted.begin(), counted.end() - 1), 0, ""},
        {"SQLite page count not kept: the b-trees' end", Cat({First(old, 2), empty, Bytes(kPage, 0)}), 2 * kPage,
         "sqlite"},
        {"SQLite freelist trunk and leaf",
         Cat({First(Header(5, 0, 0, 3, 2), 2), empty, trunk, Bytes(kPage - 12 + kPage, 0), Text("after")}),
         4 * kPage, "sqlite"},
        {"SQLite freelist shorter than counted",
         Cat({First(Header(5, 0, 0, 3, 3), 2), empty, trunk, Bytes(2 * kPage, 0)}), 0, ""},
        {"SQLite interior page its own child", Cat({First(old, 2), Page(0, 5, {}, 2), Bytes(kPage, 0)}), 0, ""},
        {"SQLite index leaf below a table page",
         Cat({First(old, 2), Page(0, 5, {}, 3), Page(0, 10, {}), Bytes(kPage, 0)}), 0, ""},
        {"SQLite root page past the data", Cat({First(old, 9), empty, Bytes(kPage, 0)}), 0, ""},
        {"SQLite page size not a power of two", bad_size, 0, ""},
        {"SQLite payload fraction", bad_fraction, 0, ""},
        {"SQLite reserved header bytes set", bad_reserved, 0, ""},
    };
}

}  // namespace formathound_test
