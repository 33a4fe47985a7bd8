// ELF files (32 and 64 bits, either byte order): the ELF header (class,
// byte order, version 1, a known type, header and table entry sizes of its
// class), the section header table (first entry null, the name table a
// string table) and the program header table. Nothing says the file's
// length: the item ends behind the furthest of the header, both tables,
// every section's bytes (but NOBITS, which have none in the file) and every
// segment's file bytes. Any of them past the data: cut short.
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kRel = 1, kDyn = 3, kCore = 4;
constexpr uint32_t kNull = 0, kStringTable = 3, kNoBits = 8;
constexpr uint32_t kInterpreter = 3;
// Counts that do not fit the header's 16 bits stand in section 0.
constexpr uint32_t kExtendedCount = 0xFFFF, kExtendedIndex = 0xFFFF;
// Bounds far above the files that tools write (a few thousand sections in
// objects built with one section per function).
constexpr uint64_t kMaxSections = uint64_t{1} << 20;
constexpr uint64_t kMaxSegments = uint64_t{1} << 16;

// Numbers in the file's class and byte order.
struct Layout {
    bool wide;  // 64-bit class
    bool big;   // big-endian

    uint32_t U16(const uint8_t* p) const { return big ? Be16(p) : Le16(p); }
    uint32_t U32(const uint8_t* p) const { return big ? Be32(p) : Le32(p); }
    // An address or offset: 4 bytes in 32-bit files, 8 in 64-bit ones.
    uint64_t Word(const uint8_t* p) const { return wide ? (big ? Be64(p) : Le64(p)) : U32(p); }
    uint32_t header() const { return wide ? 64 : 52; }
    uint32_t section() const { return wide ? 64 : 40; }
    uint32_t segment() const { return wide ? 56 : 32; }
};

// A section header's fields, wherever its class puts them.
struct Section {
    uint32_t type, link, info;
    uint64_t offset, size;
};

Section ReadSection(const Layout& layout, const uint8_t* p) {
    if (layout.wide) {
        return {layout.U32(p + 4), layout.U32(p + 40), layout.U32(p + 44), layout.Word(p + 24), layout.Word(p + 32)};
    }
    return {layout.U32(p + 4), layout.U32(p + 24), layout.U32(p + 28), layout.U32(p + 16), layout.U32(p + 20)};
}

// Moves *end behind offset + size; false when that runs past the data.
bool Reach(const Source& source, uint64_t offset, uint64_t size, uint64_t* end) {
    if (offset > source.size() || size > source.size() - offset) return false;
    if (offset + size > *end) *end = offset + size;
    return true;
}

// The table of count entries of entry bytes at offset, within the data.
bool ReachTable(const Source& source, uint64_t offset, uint64_t count, uint32_t entry, uint64_t* end) {
    return count == 0 || (offset != 0 && Reach(source, offset, count * entry, end));
}

}  // namespace

bool WalkElf(Source& source, Found* found) {
    const uint8_t* id = source.Peek(0, 16);
    if (id == nullptr || !Is(id, "\x7F" "ELF") || (id[4] != 1 && id[4] != 2) || (id[5] != 1 && id[5] != 2) ||
        id[6] != 1) {
        return false;
    }
    const Layout layout{id[4] == 2, id[5] == 2};
    const uint8_t* h = source.Peek(0, layout.header());
    if (h == nullptr) return false;
    const uint32_t type = layout.U16(h + 16), machine = layout.U16(h + 18), version = layout.U32(h + 20);
    const uint8_t* sizes = h + (layout.wide ? 52 : 40);  // e_ehsize and the table fields behind it
    const uint64_t segments_at = layout.Word(h + (layout.wide ? 32 : 28));
    const uint64_t sections_at = layout.Word(h + (layout.wide ? 40 : 32));
    uint64_t segments = layout.U16(sizes + 4), sections = layout.U16(sizes + 8);
    uint32_t names = layout.U16(sizes + 10);
    if (type < kRel || type > kCore || machine == 0 || version != 1 || layout.U16(sizes) != layout.header()) {
        return false;
    }
    if (segments != 0 && layout.U16(sizes + 2) != layout.segment()) return false;

    // Section 0 is null; it holds the counts too large for the header.
    Section first{};
    if (sections_at != 0) {
        if (layout.U16(sizes + 6) != layout.section()) return false;
        const uint8_t* p = source.Peek(sections_at, layout.section());
        if (p == nullptr) return false;
        first = ReadSection(layout, p);
        if (first.type != kNull) return false;
        if (sections == 0) sections = first.size;
        if (names == kExtendedIndex) names = first.link;
        if (segments == kExtendedCount) segments = first.info;
    } else if (sections != 0 || names != 0) {
        return false;
    }
    if (sections > kMaxSections || segments > kMaxSegments || (sections == 0 && segments == 0) ||
        (names != 0 && names >= sections)) {
        return false;
    }

    uint64_t end = 0;
    if (!Reach(source, 0, layout.header(), &end) ||
        !ReachTable(source, sections_at, sections, layout.section(), &end) ||
        !ReachTable(source, segments_at, segments, layout.segment(), &end)) {
        return false;
    }
    for (uint64_t i = 1; i < sections; ++i) {
        const uint8_t* p = source.Peek(sections_at + i * layout.section(), layout.section());
        if (!source.Step() || p == nullptr) return false;
        const Section section = ReadSection(layout, p);
        if (i == names && section.type != kStringTable) return false;
        if (section.type != kNull && section.type != kNoBits && !Reach(source, section.offset, section.size, &end)) {
            return false;
        }
    }
    bool interpreter = false;
    for (uint64_t i = 0; i < segments; ++i) {
        const uint8_t* p = source.Peek(segments_at + i * layout.segment(), layout.segment());
        if (!source.Step() || p == nullptr) return false;
        const uint64_t offset = layout.Word(p + (layout.wide ? 8 : 4));
        const uint64_t file_size = layout.Word(p + (layout.wide ? 32 : 16));
        interpreter |= layout.U32(p) == kInterpreter;
        if (file_size != 0 && !Reach(source, offset, file_size, &end)) return false;
    }

    if (type == kRel) {
        *found = {end, "o", "ELF object"};
    } else if (type == kCore) {
        *found = {end, "core", "ELF core dump"};
    } else if (type == kDyn && !interpreter) {
        *found = {end, "so", "ELF shared library"};
    } else {
        *found = {end, "elf", "ELF program"};
    }
    return true;
}

}  // namespace formathound
