// Program checkers: Windows PE images (PE32 and PE32+) and ELF files (32
// and 64 bits, either byte order). Their headers' fields are checked against
// each other and against the item's end, which formathound's walk finds (the
// furthest byte any header, table, section or segment names).
#include <iterator>
#include <vector>

#include "host/check/check.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum ProgramReason : uint8_t {
    kNoReason,
    kCutShort,
    kNotPe,
    kBadDosHeader,
    kBadSignature,
    kUnknownMachine,
    kBadOptionalHeader,
    kBadAlignment,
    kBadSectionTable,
    kBadSection,
    kBadImageSize,
    kBadDirectory,
    kBadCertificate,
    kBadChecksum,
    kBadLayout,
    kBadIdent,
    kBadElfHeader,
    kBadTableEntrySize,
    kBadNameTable,
    kBadSectionLink,
    kBadSymbolTable,
    kBadSegment,
    kReasonCount,
};

bool PowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }
uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }
// [offset, offset + size) inside [0, end).
bool Inside(uint64_t offset, uint64_t size, uint64_t end) { return offset <= end && size <= end - offset; }

// ---- PE ----

constexpr uint64_t kDosHeader = 64, kCoffHeader = 24, kSectionHeader = 40;
constexpr uint32_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr uint32_t kCertificateTable = 4;
constexpr uint32_t kMaxPeSections = 96;
constexpr uint64_t kMaxHeaderOffset = uint64_t{1} << 24;

constexpr uint16_t kMachines[] = {
    0x014C, 0x8664, 0xAA64, 0xA641, 0x01C0, 0x01C2, 0x01C4, 0x0200, 0x0EBC, 0x0166,
    0x0169, 0x01A2, 0x01A6, 0x01F0, 0x01F1, 0x0184, 0x5032, 0x5064, 0x6232, 0x6264,
};

bool KnownMachine(uint32_t machine) {
    for (const uint16_t known : kMachines) {
        if (machine == known) return true;
    }
    return false;
}

// The optional header's fields that the checks compare.
struct Optional {
    uint64_t fixed;  // bytes before the data directories: 96 in PE32, 112 in PE32+
    uint64_t image_base;
    uint32_t entry, section_align, file_align, image_size, headers_size, checksum, directories;
    const uint8_t* directory;
};

ProgramReason ReadOptional(const uint8_t* p, uint64_t size, Optional* o) {
    if (size < 2) return kBadOptionalHeader;
    const uint32_t magic = Le16(p);
    o->fixed = magic == kPe32 ? 96 : magic == kPe32Plus ? 112 : 0;
    if (o->fixed == 0 || size < o->fixed) return kBadOptionalHeader;
    o->entry = Le32(p + 16);
    o->image_base = magic == kPe32 ? Le32(p + 28) : Le64(p + 24);
    o->section_align = Le32(p + 32);
    o->file_align = Le32(p + 36);
    o->image_size = Le32(p + 56);
    o->headers_size = Le32(p + 60);
    o->checksum = Le32(p + 64);
    o->directories = Le32(p + o->fixed - 4);
    o->directory = p + o->fixed;
    // The header ends with as many data directories as it counts.
    if (o->directories > 16 || size != o->fixed + 8 * uint64_t{o->directories}) return kBadOptionalHeader;
    // Below a page, sections are aligned as in the file; else the file
    // alignment lies between 512 bytes and 64 KiB.
    if (!PowerOfTwo(o->section_align) || !PowerOfTwo(o->file_align) || o->image_base % 0x10000 != 0) {
        return kBadAlignment;
    }
    if (o->section_align < 4096 ? o->file_align != o->section_align
                                : o->file_align < 512 || o->file_align > 0x10000 || o->file_align > o->section_align) {
        return kBadAlignment;
    }
    return kNoReason;
}

// Sections: raw data aligned in the file and inside the item, virtual
// ranges aligned, rising, behind the headers; SizeOfImage covers the last.
ProgramReason CheckSections(const uint8_t* table, uint32_t count, const Optional& o, uint64_t end) {
    uint64_t next_va = AlignUp(o.headers_size, o.section_align);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* s = table + i * kSectionHeader;
        const uint64_t virtual_size = Le32(s + 8), va = Le32(s + 12), raw_size = Le32(s + 16), raw = Le32(s + 20);
        if (raw_size != 0 && (raw % o.file_align != 0 || raw_size % o.file_align != 0)) return kBadAlignment;
        if (raw_size != 0 && (raw < o.headers_size || !Inside(raw, raw_size, end))) return kBadSection;
        if (va % o.section_align != 0 || va < next_va) return kBadSection;
        const uint64_t extent = virtual_size != 0 ? virtual_size : raw_size;
        next_va = va + AlignUp(extent, o.section_align);
    }
    if (AlignUp(o.image_size, o.section_align) != next_va) return kBadImageSize;
    return kNoReason;
}

// The data directories lie in the image; the certificate table, at a file
// offset, holds WIN_CERTIFICATE records, each 8-byte aligned.
ProgramReason CheckDirectories(const Optional& o, const uint8_t* data, uint64_t end) {
    if (o.entry >= o.image_size) return kBadDirectory;
    for (uint32_t i = 0; i < o.directories; ++i) {
        const uint64_t at = Le32(o.directory + 8 * i), size = Le32(o.directory + 8 * i + 4);
        if (i == kCertificateTable || at == 0) continue;
        if (!Inside(at, size, o.image_size)) return kBadDirectory;
    }
    if (o.directories <= kCertificateTable) return kNoReason;
    const uint64_t at = Le32(o.directory + 8 * kCertificateTable), size = Le32(o.directory + 8 * kCertificateTable + 4);
    if (size == 0) return kNoReason;
    if (at % 8 != 0 || at < o.headers_size || !Inside(at, size, end)) return kBadCertificate;
    for (uint64_t k = 0; k < size;) {
        if (size - k < 8) return kBadCertificate;
        const uint8_t* c = data + at + k;
        const uint32_t length = Le32(c), revision = Le16(c + 4), type = Le16(c + 6);
        if (length < 8 || length > size - k || (revision != 0x0100 && revision != 0x0200) || type < 1 || type > 4) {
            return kBadCertificate;
        }
        k += AlignUp(length, 8);
    }
    return kNoReason;
}

// The image checksum: 16-bit words added with their carries folded in,
// the checksum field left out, plus the file's length.
uint32_t PeChecksum(const uint8_t* data, uint64_t end, uint64_t checksum_at) {
    uint64_t sum = 0;
    for (uint64_t i = 0; i + 1 < end; i += 2) {
        if (i == checksum_at || i == checksum_at + 2) continue;
        sum += Le16(data + i);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (end & 1) sum += data[end - 1];
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + end);
}

}  // namespace

CheckResult CheckPe(CheckBytes bytes) {
    const uint8_t* p = bytes.data;
    if (bytes.size < kDosHeader) return CheckInvalid(kCutShort);
    const uint64_t pe = Le32(p + 0x3C);
    const uint8_t* coff = pe >= kDosHeader && bytes.size >= pe + kCoffHeader ? p + pe : nullptr;
    if (coff == nullptr || Le32(coff) != 0x00004550) {
        // A DOS program (its relocation table inside the old 28-byte
        // header: no new header) or a 16-bit or OS/2 one: not a PE image.
        const bool other = coff != nullptr && (coff[0] == 'N' || coff[0] == 'L') && (coff[1] == 'E' || coff[1] == 'X');
        if (Le16(p + 0x18) < 0x40 || other) return CheckUnknown(kNotPe);
        if (pe < kDosHeader || pe >= kMaxHeaderOffset) return CheckInvalid(kBadDosHeader);
        return CheckInvalid(coff == nullptr ? kCutShort : kBadSignature);
    }
    const uint32_t machine = Le16(coff + 4), sections = Le16(coff + 6), optional_size = Le16(coff + 20);
    if (!KnownMachine(machine)) return CheckInvalid(kUnknownMachine);
    if (sections == 0 || sections > kMaxPeSections || !(Le16(coff + 22) & 0x0002)) {
        return CheckInvalid(kBadSectionTable);
    }
    const uint64_t optional_at = pe + kCoffHeader, table = optional_at + optional_size;
    if (bytes.size < table + sections * kSectionHeader) return CheckInvalid(kCutShort);
    Optional o{};
    ProgramReason reason = ReadOptional(p + optional_at, optional_size, &o);
    if (reason != kNoReason) return CheckInvalid(reason);
    if (o.headers_size < table + sections * kSectionHeader) return CheckInvalid(kBadSectionTable);
    if (o.headers_size % o.file_align != 0) return CheckInvalid(kBadAlignment);
    if (bytes.size < o.headers_size) return CheckInvalid(kCutShort);
    const uint64_t end = WalkEnd(bytes);
    if (end == 0) return CheckInvalid(kBadLayout);
    if ((reason = CheckSections(p + table, sections, o, end)) != kNoReason ||
        (reason = CheckDirectories(o, p, end)) != kNoReason) {
        return CheckInvalid(reason);
    }
    if (o.checksum != 0 && PeChecksum(p, end, optional_at + 64) != o.checksum) return CheckInvalid(kBadChecksum);
    return CheckValid(end);
}

namespace {

// ---- ELF ----

constexpr uint32_t kRelocatable = 1, kCore = 4;
constexpr uint32_t kNull = 0, kSymtab = 2, kStrtab = 3, kRelocationsWithAddends = 4, kHash = 5, kDynamic = 6,
                   kNoBits = 8, kRelocations = 9, kDynsym = 11;
constexpr uint32_t kLoad = 1, kInterp = 3, kPhdr = 6;
constexpr uint32_t kExtended = 0xFFFF;
constexpr uint32_t kLoReserve = 0xFF00;
constexpr uint64_t kMaxSections = uint64_t{1} << 20, kMaxSegments = uint64_t{1} << 16;

// Numbers in the file's class and byte order.
struct Elf {
    const uint8_t* data;
    uint64_t end;
    bool wide, big;

    uint32_t U16(const uint8_t* p) const { return big ? (p[0] << 8 | p[1]) : Le16(p); }
    uint32_t U32(const uint8_t* p) const { return big ? Be32(p) : Le32(p); }
    uint64_t Word(const uint8_t* p) const { return wide ? (big ? Be64(p) : Le64(p)) : U32(p); }
    uint32_t header() const { return wide ? 64 : 52; }
    uint32_t section() const { return wide ? 64 : 40; }
    uint32_t segment() const { return wide ? 56 : 32; }
    uint32_t symbol() const { return wide ? 24 : 16; }
};

struct Section {
    uint32_t name, type, link;
    uint64_t offset, size, align, entsize;
};

Section ReadSection(const Elf& elf, const uint8_t* p) {
    if (elf.wide) {
        return {elf.U32(p), elf.U32(p + 4), elf.U32(p + 40), elf.Word(p + 24), elf.Word(p + 32), elf.Word(p + 48),
                elf.Word(p + 56)};
    }
    return {elf.U32(p), elf.U32(p + 4), elf.U32(p + 24), elf.U32(p + 16), elf.U32(p + 20), elf.U32(p + 32),
            elf.U32(p + 36)};
}

bool IsStringTable(const Elf& elf, const Section& s) {
    return s.type == kStrtab && s.size > 0 && Inside(s.offset, s.size, elf.end) && elf.data[s.offset] == 0 &&
           elf.data[s.offset + s.size - 1] == 0;
}

// A symbol table: whole entries, names inside its string table, section
// indexes that exist (or reserved ones).
ProgramReason CheckSymbols(const Elf& elf, const Section& s, const std::vector<Section>& sections) {
    if (s.entsize != elf.symbol() || s.size % elf.symbol() != 0) return kBadSymbolTable;
    if (s.link == 0 || s.link >= sections.size() || !IsStringTable(elf, sections[s.link])) return kBadSectionLink;
    const uint64_t strings = sections[s.link].size;
    for (uint64_t at = s.offset; at < s.offset + s.size; at += elf.symbol()) {
        const uint8_t* sym = elf.data + at;
        const uint32_t shndx = elf.U16(sym + (elf.wide ? 6 : 14));
        if (elf.U32(sym) >= strings || (shndx >= sections.size() && shndx < kLoReserve)) return kBadSymbolTable;
    }
    return kNoReason;
}

// Every section: its bytes inside the item (but NOBITS), a power-of-two
// alignment, a name in the name table, links to sections that exist.
ProgramReason CheckSections(const Elf& elf, const std::vector<Section>& sections, uint32_t names) {
    if (names != 0 && !IsStringTable(elf, sections[names])) return kBadNameTable;
    const uint64_t name_bytes = names != 0 ? sections[names].size : 1;
    for (size_t i = 1; i < sections.size(); ++i) {
        const Section& s = sections[i];
        if (s.name >= name_bytes || (s.align > 1 && !PowerOfTwo(s.align))) return kBadSectionTable;
        if (s.type == kNull || s.type == kNoBits) continue;
        if (!Inside(s.offset, s.size, elf.end)) return kBadLayout;
        const bool links = s.type == kSymtab || s.type == kDynsym || s.type == kRelocationsWithAddends ||
                           s.type == kRelocations || s.type == kHash || s.type == kDynamic;
        if (links && s.link >= sections.size()) return kBadSectionLink;
        if (s.type == kSymtab || s.type == kDynsym) {
            const ProgramReason reason = CheckSymbols(elf, s, sections);
            if (reason != kNoReason) return reason;
        }
    }
    return kNoReason;
}

// Every segment: its file bytes inside the item, a loadable one no larger
// in the file than in memory and congruent to its alignment; one
// interpreter, its path terminated.
ProgramReason CheckSegments(const Elf& elf, uint64_t at, uint64_t count) {
    uint32_t interpreters = 0, headers = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* p = elf.data + at + i * elf.segment();
        const uint32_t type = elf.U32(p);
        const uint64_t offset = elf.Word(p + (elf.wide ? 8 : 4)), vaddr = elf.Word(p + (elf.wide ? 16 : 8));
        const uint64_t file_size = elf.Word(p + (elf.wide ? 32 : 16)), memory_size = elf.Word(p + (elf.wide ? 40 : 20));
        const uint64_t align = elf.Word(p + (elf.wide ? 48 : 28));
        if (file_size != 0 && !Inside(offset, file_size, elf.end)) return kBadLayout;
        const bool aligned = align <= 1 || (PowerOfTwo(align) && offset % align == vaddr % align);
        if (type == kLoad && (file_size > memory_size || !aligned)) return kBadSegment;
        if (type == kInterp && (++interpreters > 1 || file_size == 0 || elf.data[offset + file_size - 1] != 0)) {
            return kBadSegment;
        }
        if (type == kPhdr && ++headers > 1) return kBadSegment;
    }
    return kNoReason;
}

}  // namespace

CheckResult CheckElf(CheckBytes bytes) {
    const uint8_t* h = bytes.data;
    if (bytes.size < 16) return CheckInvalid(kCutShort);
    if ((h[4] != 1 && h[4] != 2) || (h[5] != 1 && h[5] != 2) || h[6] != 1) return CheckInvalid(kBadIdent);
    Elf elf{h, 0, h[4] == 2, h[5] == 2};
    if (bytes.size < elf.header()) return CheckInvalid(kCutShort);
    const uint32_t type = elf.U16(h + 16), machine = elf.U16(h + 18);
    const uint8_t* sizes = h + (elf.wide ? 52 : 40);  // e_ehsize, then the table fields
    const uint64_t segments_at = elf.Word(h + (elf.wide ? 32 : 28)), sections_at = elf.Word(h + (elf.wide ? 40 : 32));
    uint64_t segments = elf.U16(sizes + 4), sections = elf.U16(sizes + 8);
    uint32_t names = elf.U16(sizes + 10);
    if (type < kRelocatable || type > kCore || machine == 0 || elf.U32(h + 20) != 1 || elf.U16(sizes) != elf.header()) {
        return CheckInvalid(kBadElfHeader);
    }
    if ((segments != 0 && elf.U16(sizes + 2) != elf.segment()) ||
        (sections_at != 0 && elf.U16(sizes + 6) != elf.section())) {
        return CheckInvalid(kBadTableEntrySize);
    }
    // Section 0 is null; it holds the counts too large for the header.
    if (sections_at != 0) {
        if (!Inside(sections_at, elf.section(), bytes.size)) return CheckInvalid(kCutShort);
        const Section first = ReadSection(elf, h + sections_at);
        const uint8_t* p = h + sections_at;
        if (first.type != kNull) return CheckInvalid(kBadSectionTable);
        if (sections == 0) sections = first.size;
        if (names == kExtended) names = first.link;
        if (segments == kExtended) segments = elf.U32(p + (elf.wide ? 44 : 28));
    } else if (sections != 0 || names != 0) {
        return CheckInvalid(kBadSectionTable);
    }
    if (sections > kMaxSections || segments > kMaxSegments || (names != 0 && names >= sections)) {
        return CheckInvalid(kBadSectionTable);
    }
    // A table of no entries may have any offset.
    auto tables_inside = [&](uint64_t end) {
        return (sections == 0 || Inside(sections_at, sections * elf.section(), end)) &&
               (segments == 0 || Inside(segments_at, segments * elf.segment(), end));
    };
    if (!tables_inside(bytes.size)) return CheckInvalid(kCutShort);
    elf.end = WalkEnd(bytes);
    if (elf.end == 0) return CheckInvalid(kBadLayout);
    if (!tables_inside(elf.end)) return CheckInvalid(kBadLayout);
    std::vector<Section> table;
    for (uint64_t i = 0; i < sections; ++i) table.push_back(ReadSection(elf, h + sections_at + i * elf.section()));
    ProgramReason reason = kNoReason;
    if ((sections != 0 && (reason = CheckSections(elf, table, names)) != kNoReason) ||
        (reason = CheckSegments(elf, segments_at, segments)) != kNoReason) {
        return CheckInvalid(reason);
    }
    return CheckValid(elf.end);
}

// The texts of the reasons, by code.
const char* const kProgramReasons[] = {
    "",
    "cut short",
    "a DOS or 16-bit program, not a PE image",
    "bad DOS header",
    "no PE signature",
    "unknown machine",
    "bad optional header",
    "bad alignment",
    "bad section table",
    "section out of place",
    "size of image does not match the sections",
    "data directory outside the image",
    "bad certificate table",
    "checksum mismatch",
    "a table, section or segment past the end",
    "bad ELF identification",
    "bad ELF header",
    "table entry size not of the class",
    "bad section name table",
    "section links to no section",
    "bad symbol table",
    "bad segment",
};
static_assert(std::size(kProgramReasons) == kReasonCount, "one text per reason");

extern const Checker kPeChecker = {CheckPe, kProgramReasons, std::size(kProgramReasons), nullptr};
extern const Checker kElfChecker = {CheckElf, kProgramReasons, std::size(kProgramReasons), nullptr};
