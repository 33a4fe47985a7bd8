// SQLite 3 databases: the 100-byte header ("SQLite format 3\0", page size,
// file format versions 1 or 2, payload fractions 64/32/32, reserved bytes
// zero) and page 1's b-tree header behind it. When the change counter
// equals the "version valid for" number, the header's page count holds and
// the item is that many pages. Otherwise (a file last written before that
// count was kept) the item ends behind the highest page that the structure
// reaches: the schema table's b-tree from page 1, the b-tree of every root
// page that the schema lists, their overflow chains and the freelist.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr char kMagic[16] = "SQLite format 3";  // with its NUL
constexpr uint32_t kHeaderBytes = 100;
// SQLite reads no b-tree deeper.
constexpr uint32_t kMaxDepth = 20;
constexpr uint8_t kIndexInterior = 2, kTableInterior = 5, kIndexLeaf = 10, kTableLeaf = 13;

struct Db {
    Source* source;
    uint32_t page_size, usable;  // usable: without the reserved bytes at each page's end
    uint32_t pages;              // pages that lie wholly within the data
    uint32_t highest = 1;
    uint32_t visits = 0;

    uint64_t Offset(uint32_t page) const { return uint64_t{page - 1} * page_size; }
    // One page reached; a valid database reaches each page once, so more
    // visits than pages is a loop.
    bool Visit(uint32_t page) {
        if (page == 0 || page > pages || ++visits > pages || !source->Step()) return false;
        if (page > highest) highest = page;
        return true;
    }
};

// A varint of at most nine bytes from p, before end: its length, 0 when cut.
uint32_t Varint(const uint8_t* p, const uint8_t* end, uint64_t* value) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < 9 && p + i < end; ++i) {
        if (i == 8) {
            *value = v << 8 | p[i];
            return 9;
        }
        v = v << 7 | (p[i] & 0x7F);
        if (p[i] < 0x80) {
            *value = v;
            return i + 1;
        }
    }
    return 0;
}

// The payload bytes that a cell keeps on its page; the rest overflows.
uint64_t LocalBytes(const Db& db, uint64_t payload, bool table_leaf) {
    const uint32_t u = db.usable;
    const uint32_t most = table_leaf ? u - 35 : (u - 12) * 64 / 255 - 23;
    if (payload <= most) return payload;
    const uint32_t least = (u - 12) * 32 / 255 - 23;
    const uint64_t fill = least + (payload - least) % (u - 4);
    return fill <= most ? fill : least;
}

// Bytes of a record column of that serial type; false for the reserved types.
bool ColumnBytes(uint64_t type, uint64_t* bytes) {
    constexpr uint8_t kFixed[10] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
    if (type == 10 || type == 11) return false;
    *bytes = type < 10 ? kFixed[type] : (type - 12) / 2;
    return true;
}

// The rootpage column (the fourth) of a schema record kept whole in its
// local payload; 0 for a view or trigger.
bool RootPage(const uint8_t* record, uint64_t local, uint32_t* root) {
    const uint8_t* end = record + local;
    uint64_t header = 0, type = 0, bytes = 0, offset = 0;
    const uint32_t n = Varint(record, end, &header);
    if (n == 0 || header > local || header < n) return false;
    const uint8_t* types = record + n;
    offset = header;
    for (int column = 0; column < 4; ++column) {
        const uint32_t m = Varint(types, record + header, &type);
        if (m == 0 || !ColumnBytes(type, &bytes)) return false;
        types += m;
        if (column < 3) offset += bytes;
    }
    if (type > 9 || type == 7 || offset + bytes > local) return false;  // an integer, or NULL
    uint64_t value = type == 9 ? 1 : 0;
    for (uint64_t i = 0; i < bytes; ++i) value = value << 8 | record[offset + i];
    if (bytes > 0 && (record[offset] & 0x80)) return false;  // negative
    if (value == 1 || value > 0xFFFFFFFF) return false;  // page 1 is the schema's own
    *root = static_cast<uint32_t>(value);
    return true;
}

struct Cell {
    uint32_t child = 0;     // interior pages: the left child
    uint64_t overflow = 0;  // bytes in overflow pages
    uint32_t first = 0;     // the first overflow page
    uint32_t root = 0;      // schema leaves: the rootpage column
};

// The cell at offset at of a page of that type, within the usable bytes.
bool ReadCell(const Db& db, const uint8_t* page, uint32_t at, uint8_t type, bool schema, Cell* cell) {
    const uint8_t* p = page + at;
    const uint8_t* end = page + db.usable;
    uint64_t payload = 0, rowid = 0;
    if (type == kIndexInterior || type == kTableInterior) {
        if (end - p < 4) return false;
        cell->child = Be32(p);
        p += 4;
    }
    uint32_t n = Varint(p, end, type == kTableInterior ? &rowid : &payload);
    if (n == 0) return false;
    p += n;
    if (type == kTableInterior) return true;
    if (type == kTableLeaf) {
        if ((n = Varint(p, end, &rowid)) == 0) return false;
        p += n;
    }
    const uint64_t local = LocalBytes(db, payload, type == kTableLeaf);
    if (local > static_cast<uint64_t>(end - p)) return false;
    if (local < payload) {
        if (static_cast<uint64_t>(end - p) - local < 4) return false;
        cell->first = Be32(p + local);
        cell->overflow = payload - local;
    }
    return !schema || type != kTableLeaf || RootPage(p, local, &cell->root);
}

// An overflow chain: as many pages as its bytes fill, the last linking to 0.
bool FollowOverflow(Db& db, const Cell& cell) {
    const uint64_t count = (cell.overflow + db.usable - 5) / (db.usable - 4);
    uint32_t page = cell.first;
    for (uint64_t i = 0; i < count; ++i) {
        if (!db.Visit(page) || !db.source->Be32(db.Offset(page), &page)) return false;
    }
    return page == 0;
}

bool WalkTree(Db& db, uint32_t root, bool schema);

struct Level {
    uint32_t page;
    uint32_t next;  // the next cell; the cell count stands for the right-most child
};

// A page's b-tree header, at its first visit: a page type of the tree's
// family (table or index), leaves all at one depth, cell pointers that fit.
bool PageHolds(const Db& db, const uint8_t* head, uint32_t header_end, uint32_t depth, uint8_t* family,
               uint32_t* leaf_depth) {
    const uint8_t type = head[0];
    const bool table = type == kTableInterior || type == kTableLeaf;
    if (!table && type != kIndexInterior && type != kIndexLeaf) return false;
    if (*family == 0) *family = table ? kTableLeaf : kIndexLeaf;
    if (*family != (table ? kTableLeaf : kIndexLeaf)) return false;
    if (type == kTableLeaf || type == kIndexLeaf) {
        if (*leaf_depth == 0) *leaf_depth = depth;
        if (*leaf_depth != depth) return false;
    }
    return header_end + 2 * uint64_t{Be16(head + 3)} <= db.usable;
}

// One b-tree, depth first with a stack of pages; a schema tree's leaves
// name the roots of the others, walked as they are met.
bool WalkTree(Db& db, uint32_t root, bool schema) {
    Level stack[kMaxDepth];
    uint32_t depth = 0, leaf_depth = 0;
    uint8_t family = 0;
    if (!db.Visit(root)) return false;
    stack[depth++] = {root, 0};
    while (depth > 0) {
        Level& top = stack[depth - 1];
        const uint32_t start = top.page == 1 ? kHeaderBytes : 0;
        const uint8_t* page = db.source->Peek(db.Offset(top.page), db.page_size);
        if (page == nullptr) return false;
        const uint8_t type = page[start];
        const bool interior = type == kIndexInterior || type == kTableInterior;
        const uint32_t header_end = start + (interior ? 12 : 8), cells = Be16(page + start + 3);
        if (top.next == 0 && !PageHolds(db, page + start, header_end, depth, &family, &leaf_depth)) return false;
        if (schema && family != kTableLeaf) return false;
        if (top.next > cells || (!interior && top.next == cells)) {
            --depth;
            continue;
        }
        Cell cell;
        if (top.next < cells) {
            const uint32_t at = Be16(page + header_end + 2 * top.next);
            if (at < header_end + 2 * cells || at >= db.usable || !ReadCell(db, page, at, type, schema, &cell)) {
                return false;
            }
        } else {
            cell.child = Be32(page + start + 8);  // the right-most child
        }
        ++top.next;
        // The page's bytes are not used past here: other pages are read.
        if (cell.overflow > 0 && !FollowOverflow(db, cell)) return false;
        if (cell.root != 0 && !WalkTree(db, cell.root, false)) return false;
        if (interior) {
            if (depth == kMaxDepth || !db.Visit(cell.child)) return false;
            stack[depth++] = {cell.child, 0};
        }
    }
    return true;
}

// The freelist: trunk pages, each with its next trunk and its leaves, as
// many pages in all as the header counts.
bool WalkFreelist(Db& db, uint32_t trunk, uint32_t count) {
    while (trunk != 0) {
        uint32_t next = 0, leaves = 0;
        if (count == 0 || !db.Visit(trunk) || !db.source->Be32(db.Offset(trunk), &next) ||
            !db.source->Be32(db.Offset(trunk) + 4, &leaves)) {
            return false;
        }
        --count;
        if (leaves > count || leaves > db.usable / 4 - 2) return false;
        for (uint32_t i = 0; i < leaves; ++i) {
            uint32_t leaf = 0;
            if (!db.source->Be32(db.Offset(trunk) + 8 + 4 * uint64_t{i}, &leaf) || !db.Visit(leaf)) return false;
        }
        count -= leaves;
        trunk = next;
    }
    return count == 0;
}

}  // namespace

bool WalkSqlite(Source& source, Found* found) {
    const uint8_t* h = source.Peek(0, kHeaderBytes + 8);
    if (h == nullptr || std::memcmp(h, kMagic, 16) != 0) return false;
    const uint32_t size_field = Be16(h + 16);
    const uint32_t page_size = size_field == 1 ? 65536 : size_field;
    if (page_size < 512 || (page_size & (page_size - 1)) != 0) return false;
    if (h[18] < 1 || h[18] > 2 || h[19] < 1 || h[19] > 2 || h[21] != 64 || h[22] != 32 || h[23] != 32) return false;
    if (Be32(h + 44) > 4 || Be32(h + 56) > 3) return false;  // schema format, text encoding
    for (uint32_t i = 72; i < 92; ++i) {
        if (h[i] != 0) return false;
    }
    const uint8_t page1 = h[kHeaderBytes];
    if (page1 != kTableLeaf && page1 != kTableInterior) return false;  // the schema table
    Db db;
    db.source = &source;
    db.page_size = page_size;
    db.usable = page_size - h[20];
    if (db.usable < 480) return false;
    const uint64_t pages = source.size() / page_size;
    db.pages = pages < 0xFFFFFFFF ? static_cast<uint32_t>(pages) : 0xFFFFFFFF;
    const uint32_t count = Be32(h + 28), trunk = Be32(h + 32), free_pages = Be32(h + 36);
    if (Be32(h + 24) == Be32(h + 92) && count > 0) {
        // The count holds: it must reach past every page the header names.
        if (count > db.pages || trunk > count || free_pages >= count || (trunk == 0) != (free_pages == 0) ||
            Be32(h + 52) > count) {
            return false;
        }
        *found = {uint64_t{count} * page_size, "sqlite", "SQLite 3 database"};
        return true;
    }
    if (!WalkTree(db, 1, true) || !WalkFreelist(db, trunk, free_pages)) return false;
    *found = {uint64_t{db.highest} * page_size, "sqlite", "SQLite 3 database"};
    return true;
}

}  // namespace formathound
