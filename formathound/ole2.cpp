// OLE2 compound files (doc, xls, ppt, msg, msi): a header (byte order
// FFFE, 512-byte sectors in version 3 or 4096-byte ones in version 4, mini
// sectors of 64 bytes, a mini stream cutoff of 4096), the FAT sectors that
// its DIFAT lists (109 in the header, the rest in a chain of DIFAT
// sectors), the FAT itself, and the directory chain with its entries.
// Sector n lies at (n + 1) sector sizes, behind the header sector. The item
// ends behind the highest sector in use: the highest FAT entry that is not
// free, and the FAT, DIFAT and directory sectors themselves.
//
// Every FAT entry is free, an end of chain, a FAT or DIFAT mark, or a
// sector number within the data, and the FAT and DIFAT marks are as many as
// the header counts. Chains (directory, mini FAT, mini stream) are followed
// through the FAT and may hold no more sectors than are in use, so a loop
// rejects. The kind comes from the names of the root storage's children.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kHeaderBytes = 512;
constexpr uint32_t kHeaderFatSectors = 109;
constexpr uint32_t kEntryBytes = 128;
constexpr uint32_t kMiniCutoff = 4096;
// FAT entries and sector numbers of special meaning.
constexpr uint32_t kFree = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE, kFatMark = 0xFFFFFFFD,
                   kDifatMark = 0xFFFFFFFC, kMaxRegular = 0xFFFFFFFA;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint8_t kStorage = 1, kStream = 2, kRoot = 5;
// DIFAT sectors held: 512 list 65 000 FAT sectors of 512 bytes, which map
// 4 GiB, over the 2 GiB that version 3 files reach; version 4 maps 2 TiB.
constexpr uint32_t kMaxDifat = 512;
// Directory sectors remembered for lookups by entry number; the stride
// between them doubles when they fill.
constexpr uint32_t kCheckpoints = 64;
// Pending left siblings while searching the root's children.
constexpr uint32_t kMaxPending = 64;

struct Kind {
    const char* name;
    bool prefix;
    const char* extension;
    const char* description;
};

// By precedence: the first kind that names a child of the root answers.
constexpr Kind kKinds[] = {
    {"WordDocument", false, "doc", "Word document"},
    {"Workbook", false, "xls", "Excel workbook"},
    {"Book", false, "xls", "Excel 5 workbook"},
    {"PowerPoint Document", false, "ppt", "PowerPoint presentation"},
    {"__substg1.0_", true, "msg", "Outlook message"},
    {"__properties_version1.0", false, "msg", "Outlook message"},
};
constexpr uint32_t kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);
constexpr Kind kInstaller = {"", false, "msi", "Windows Installer package"};
constexpr Kind kOther = {"", false, "ole", "OLE2 compound file"};
// Windows Installer writes its table streams' names in its own base-64
// scheme behind this mark.
constexpr uint32_t kTableMark = 0x4840;

struct File {
    Source* source;
    uint32_t shift, sector, per;  // sector size: its log2, bytes, 32-bit entries
    uint32_t fat_count, difat_count;
    uint32_t data_sectors;  // sectors that lie wholly within the data
    uint32_t highest;       // the highest sector in use
    uint32_t difat[kMaxDifat];
    uint32_t cached_index = kFree, cached_location = 0;  // the last FAT sector looked up

    uint64_t Offset(uint32_t sector_number) const { return (uint64_t{sector_number} + 1) << shift; }
    void Use(uint32_t sector_number) {
        if (sector_number > highest) highest = sector_number;
    }
};

// The location of FAT sector k, from the header or a DIFAT sector.
bool FatSector(File& file, uint32_t k, uint32_t* location) {
    if (k == file.cached_index) {
        *location = file.cached_location;
        return true;
    }
    bool ok;
    if (k < kHeaderFatSectors) {
        ok = file.source->Le32(76 + 4 * uint64_t{k}, location);
    } else {
        const uint32_t rest = k - kHeaderFatSectors, listed = file.per - 1;
        ok = file.source->Le32(file.Offset(file.difat[rest / listed]) + 4 * uint64_t{rest % listed}, location);
    }
    if (!ok) return false;
    file.cached_index = k;
    file.cached_location = *location;
    return true;
}

// The FAT entry of a sector within the data.
bool Next(File& file, uint32_t sector_number, uint32_t* next) {
    uint32_t location = 0;
    return sector_number < file.data_sectors && sector_number / file.per < file.fat_count &&
           FatSector(file, sector_number / file.per, &location) &&
           file.source->Le32(file.Offset(location) + 4 * uint64_t{sector_number % file.per}, next);
}

// The sectors of the chain from start to its end, no more than are in use.
bool ChainLength(File& file, uint32_t start, uint64_t* length) {
    *length = 0;
    for (uint32_t at = start; at != kEndOfChain;) {
        if (!file.source->Step() || at >= file.data_sectors || *length > file.highest) return false;
        ++*length;
        if (!Next(file, at, &at)) return false;
    }
    return true;
}

// The header's fields, and the FAT sectors it lists itself.
bool ReadHeader(File& file, uint32_t* first_dir, uint32_t* dir_count, uint32_t* first_mini, uint32_t* mini_count,
                uint32_t* first_difat) {
    Source& source = *file.source;
    const uint8_t* h = source.Peek(0, kHeaderBytes);
    if (h == nullptr || std::memcmp(h, kMagic, 8) != 0 || Le16(h + 28) != 0xFFFE) return false;
    const uint32_t major = Le16(h + 26);
    file.shift = Le16(h + 30);
    if (!((major == 3 && file.shift == 9) || (major == 4 && file.shift == 12))) return false;
    if (Le16(h + 32) != 6 || Le32(h + 56) != kMiniCutoff) return false;
    file.sector = uint32_t{1} << file.shift;
    file.per = file.sector / 4;
    const uint64_t sectors = source.size() >> file.shift;
    if (sectors < 2) return false;
    file.data_sectors = sectors - 1 < kMaxRegular ? static_cast<uint32_t>(sectors - 1) : kMaxRegular;
    *dir_count = Le32(h + 40);
    file.fat_count = Le32(h + 44);
    *first_dir = Le32(h + 48);
    *first_mini = Le32(h + 60);
    *mini_count = Le32(h + 64);
    *first_difat = Le32(h + 68);
    file.difat_count = Le32(h + 72);
    if (file.fat_count == 0 || file.fat_count > file.data_sectors) return false;
    // The DIFAT sectors needed for the FAT sectors the header cannot list.
    const uint32_t beyond = file.fat_count > kHeaderFatSectors ? file.fat_count - kHeaderFatSectors : 0;
    if (file.difat_count != (beyond + file.per - 2) / (file.per - 1) || file.difat_count > kMaxDifat) return false;
    file.highest = 0;
    for (uint32_t i = 0; i < kHeaderFatSectors; ++i) {
        const uint32_t location = Le32(h + 76 + 4 * i);
        if (i < file.fat_count ? location >= file.data_sectors : location != kFree) return false;
        if (i < file.fat_count) file.Use(location);
    }
    return true;
}

// The DIFAT chain: each sector lists FAT sectors, then the next DIFAT sector.
bool ReadDifat(File& file, uint32_t first_difat) {
    const uint32_t listed = file.per - 1;
    uint32_t at = first_difat;
    for (uint32_t j = 0; j < file.difat_count; ++j) {
        if (!file.source->Step() || at >= file.data_sectors) return false;
        file.difat[j] = at;
        file.Use(at);
        const uint8_t* p = file.source->Peek(file.Offset(at), file.sector);
        if (p == nullptr) return false;
        for (uint32_t i = 0; i < listed; ++i) {
            const uint32_t k = kHeaderFatSectors + j * listed + i, location = Le32(p + 4 * i);
            if (k < file.fat_count ? location >= file.data_sectors : location != kFree) return false;
            if (k < file.fat_count) file.Use(location);
        }
        at = Le32(p + 4 * listed);
    }
    return at == kEndOfChain || at == kFree;
}

// Every FAT entry: the highest in use, and the marks of FAT and DIFAT sectors.
bool ReadFat(File& file) {
    uint32_t fat_marks = 0, difat_marks = 0;
    for (uint32_t k = 0; k < file.fat_count; ++k) {
        uint32_t location = 0;
        if (!file.source->Step() || !FatSector(file, k, &location)) return false;
        const uint8_t* p = file.source->Peek(file.Offset(location), file.sector);
        if (p == nullptr) return false;
        for (uint32_t i = 0; i < file.per; ++i) {
            const uint32_t entry = Le32(p + 4 * i);
            if (entry == kFree) continue;
            const uint64_t index = uint64_t{k} * file.per + i;
            if (index >= file.data_sectors) return false;  // in use past the data: cut short
            file.Use(static_cast<uint32_t>(index));
            if (entry == kFatMark) {
                ++fat_marks;
            } else if (entry == kDifatMark) {
                ++difat_marks;
            } else if (entry != kEndOfChain && (entry >= file.data_sectors || entry == index)) {
                return false;
            }
        }
    }
    return fat_marks == file.fat_count && difat_marks == file.difat_count;
}

struct Directory {
    uint32_t first;
    uint64_t sectors;  // in the chain
    uint32_t per;      // entries per sector
    uint32_t stride = 1, kept = 0;
    uint32_t checkpoints[kCheckpoints];  // the chain's sector at each multiple of stride
    uint32_t root_child = kNoStream, root_start = kEndOfChain;
    uint64_t root_size = 0;
    uint64_t highest_link = 0;  // the highest entry number a link names, plus one
};

// One directory entry: a root (entry 0 alone), storage, stream or unused,
// with a terminated name and links in the range checked at the end.
bool ReadEntry(const File& file, Directory& dir, uint64_t number, const uint8_t* e) {
    const uint8_t type = e[66];
    if ((number == 0) != (type == kRoot)) return false;
    if (type == 0) return true;
    if (type != kStorage && type != kStream && type != kRoot) return false;
    const uint32_t name_bytes = Le16(e + 64);
    if (name_bytes < 2 || name_bytes > 64 || (name_bytes & 1) || Le16(e + name_bytes - 2) != 0 || e[67] > 1) {
        return false;
    }
    for (uint32_t at = 68; at <= 76; at += 4) {  // left, right, child
        const uint32_t link = Le32(e + at);
        if (link != kNoStream && link + uint64_t{1} > dir.highest_link) dir.highest_link = link + uint64_t{1};
    }
    // Version 3 writers leave the high half of the size undefined.
    const uint64_t size = file.shift == 9 ? Le32(e + 120) : Le64(e + 120);
    const uint32_t start = Le32(e + 116);
    if (type == kRoot) {
        dir.root_child = Le32(e + 76);
        dir.root_start = start;
        dir.root_size = size;
    } else if (type == kStream && size >= kMiniCutoff && start >= file.data_sectors) {
        return false;
    }
    return true;
}

// The directory chain and every entry in it.
bool ReadDirectory(File& file, Directory& dir) {
    dir.per = file.sector / kEntryBytes;
    dir.sectors = 0;
    for (uint32_t at = dir.first; at != kEndOfChain;) {
        if (!file.source->Step() || at >= file.data_sectors || dir.sectors > file.highest) return false;
        if (dir.sectors % dir.stride == 0) {
            if (dir.kept == kCheckpoints) {
                for (uint32_t i = 0; i < kCheckpoints / 2; ++i) dir.checkpoints[i] = dir.checkpoints[2 * i];
                dir.kept = kCheckpoints / 2;
                dir.stride *= 2;
            }
            if (dir.sectors % dir.stride == 0) dir.checkpoints[dir.kept++] = at;
        }
        file.Use(at);
        const uint8_t* p = file.source->Peek(file.Offset(at), file.sector);
        if (p == nullptr) return false;
        for (uint32_t i = 0; i < dir.per; ++i) {
            if (!ReadEntry(file, dir, dir.sectors * dir.per + i, p + i * kEntryBytes)) return false;
        }
        ++dir.sectors;
        if (!Next(file, at, &at)) return false;
    }
    return dir.sectors > 0 && dir.highest_link <= dir.sectors * dir.per;
}

// The 128 bytes of entry number (checked to exist), into out.
bool ReadEntryBytes(File& file, const Directory& dir, uint32_t number, uint8_t* out) {
    const uint64_t position = number / dir.per;
    uint64_t at_position = position / dir.stride * dir.stride;
    uint32_t at = dir.checkpoints[position / dir.stride];
    for (; at_position < position; ++at_position) {
        if (!file.source->Step() || !Next(file, at, &at)) return false;
    }
    return file.source->Read(file.Offset(at) + uint64_t{number % dir.per} * kEntryBytes, out, kEntryBytes);
}

// Whether the entry's name is text (ASCII, any case), or starts with it.
bool NameIs(const uint8_t* e, const Kind& kind) {
    const uint32_t chars = Le16(e + 64) / 2 - 1, length = static_cast<uint32_t>(std::strlen(kind.name));
    if (kind.prefix ? chars < length : chars != length) return false;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t c = Le16(e + 2 * i);
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        uint32_t want = static_cast<uint8_t>(kind.name[i]);
        if (want >= 'A' && want <= 'Z') want += 'a' - 'A';
        if (c != want) return false;
    }
    return true;
}

// The kind named by the root's children: its red-black tree of siblings,
// right links followed and left ones kept pending. A tree that visits more
// entries than there are loops; one too deep to keep is searched in part.
bool FindKind(File& file, const Directory& dir, const Kind** kind) {
    uint32_t pending[kMaxPending], count = 0, best = kKindCount + 1;
    uint64_t visits = 0;
    for (uint32_t id = dir.root_child;;) {
        if (id == kNoStream) {
            if (count == 0) break;
            id = pending[--count];
        }
        uint8_t e[kEntryBytes];
        if (!file.source->Step() || ++visits > dir.sectors * dir.per || !ReadEntryBytes(file, dir, id, e)) {
            return false;
        }
        if (e[66] == kStorage || e[66] == kStream) {
            for (uint32_t k = 0; k < kKindCount && k < best; ++k) {
                if (NameIs(e, kKinds[k])) best = k;
            }
            if (best > kKindCount && e[66] == kStream && Le16(e) == kTableMark) best = kKindCount;
        } else if (e[66] != 0 || id == 0) {
            return false;  // the root, or an unused entry, cannot be a child
        }
        const uint32_t left = Le32(e + 68);
        if (left != kNoStream && count < kMaxPending) pending[count++] = left;
        id = Le32(e + 72);
    }
    *kind = best < kKindCount ? &kKinds[best] : best == kKindCount ? &kInstaller : &kOther;
    return true;
}

}  // namespace

bool WalkOle2(Source& source, Found* found) {
    File file;
    file.source = &source;
    uint32_t dir_count = 0, first_mini = 0, mini_count = 0, first_difat = 0;
    Directory dir;
    if (!ReadHeader(file, &dir.first, &dir_count, &first_mini, &mini_count, &first_difat) ||
        !ReadDifat(file, first_difat) || !ReadFat(file) || !ReadDirectory(file, dir)) {
        return false;
    }
    // Version 4 counts its directory sectors; version 3 leaves the count 0.
    if (dir_count != 0 && dir_count != dir.sectors) return false;
    uint64_t length = 0;
    if (mini_count > 0 && (!ChainLength(file, first_mini, &length) || length != mini_count)) return false;
    // The mini stream, in the root's chain, holds the root's size.
    if (dir.root_size > 0 &&
        (!ChainLength(file, dir.root_start, &length) || length << file.shift < dir.root_size)) {
        return false;
    }
    const Kind* kind = &kOther;
    if (!FindKind(file, dir, &kind)) return false;
    *found = {(uint64_t{file.highest} + 2) << file.shift, kind->extension, kind->description};
    return true;
}

}  // namespace formathound
