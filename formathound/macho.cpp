// Thin Mach-O files (32 and 64 bits, either byte order): the header (a known
// CPU and file type) and its load commands, which must fill sizeofcmds
// exactly in ncmds steps. Nothing says the file's length: the item ends
// behind the furthest of the commands and the file ranges they name:
// segments, the sections' data and relocations (objects keep them outside
// any segment), the symbol and string tables, the dynamic symbol tables,
// the dyld info and the linkedit data blobs (the code signature comes
// last). Any of them past the data: cut short. Universal (fat) files are
// not walked: their magic is a Java class file's.
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kMagic32 = 0xFEEDFACE, kMagic64 = 0xFEEDFACF;
constexpr uint32_t kObject = 1, kExecute = 2, kCore = 4, kDylib = 6, kBundle = 8, kMaxFileType = 12;
constexpr uint32_t kAbi64 = 0x01000000;
// Commands whose file ranges count.
constexpr uint32_t kSegment = 0x01, kSymtab = 0x02, kDysymtab = 0x0B, kTwolevelHints = 0x16,
                   kSegment64 = 0x19, kDyldInfo = 0x22, kNote = 0x31;
constexpr uint32_t kRequiredByDyld = 0x80000000;
// Zero-fill section types: their size is memory only.
constexpr uint32_t kZeroFill = 0x01, kGbZeroFill = 0x0C, kThreadLocalZeroFill = 0x12;
// Far above what linkers write, and every command costs a step.
constexpr uint32_t kMaxCommands = 65536;

// linkedit_data_command: offset and size of one blob.
constexpr uint32_t kLinkeditData[] = {
    0x1D,  // code signature
    0x1E,  // segment split info
    0x26,  // function starts
    0x29,  // data in code
    0x2B,  // dylib code signing DRs
    0x2E,  // linker optimization hint
    0x33,  // dyld exports trie
    0x34,  // dyld chained fixups
    0x36,  // atom info
};

bool KnownCpu(uint32_t cpu) {
    switch (cpu & ~0xFF000000u) {
        case 7:   // x86, x86-64
        case 12:  // ARM, ARM64, ARM64_32
        case 18:  // PowerPC, PowerPC 64
            return true;
        default:
            return false;
    }
}

bool LinkeditData(uint32_t command) {
    for (const uint32_t known : kLinkeditData) {
        if ((command & ~kRequiredByDyld) == known) return true;
    }
    return false;
}

// Numbers in the file's byte order.
struct Layout {
    bool wide;
    bool big;
    uint32_t U32(const uint8_t* p) const { return big ? Be32(p) : Le32(p); }
    uint64_t U64(const uint8_t* p) const { return big ? Be64(p) : Le64(p); }
};

// Moves *end behind offset + count * unit; false when that runs past the data.
bool Reach(const Source& source, uint64_t offset, uint64_t count, uint32_t unit, uint64_t* end) {
    if (count == 0) return true;
    if (offset > source.size() || count > (source.size() - offset) / unit) return false;
    if (offset + count * unit > *end) *end = offset + count * unit;
    return true;
}

// A segment command of size bytes at p and its sections.
bool ReachSegment(const Source& source, const Layout& l, const uint8_t* p, uint32_t size, uint64_t* end) {
    const uint32_t head = l.wide ? 72 : 56, entry = l.wide ? 80 : 68;
    if (size < head) return false;
    const uint64_t file_offset = l.wide ? l.U64(p + 40) : l.U32(p + 32);
    const uint64_t file_size = l.wide ? l.U64(p + 48) : l.U32(p + 36);
    const uint32_t sections = l.U32(p + (l.wide ? 64 : 48));
    if (sections > (size - head) / entry || !Reach(source, file_offset, file_size, 1, end)) return false;
    for (uint32_t i = 0; i < sections; ++i) {
        const uint8_t* s = p + head + i * entry;
        const uint64_t data_size = l.wide ? l.U64(s + 40) : l.U32(s + 36);
        const uint32_t data = l.U32(s + (l.wide ? 48 : 40)), relocations = l.U32(s + (l.wide ? 56 : 48));
        const uint32_t relocation_count = l.U32(s + (l.wide ? 60 : 52)), kind = l.U32(s + (l.wide ? 64 : 56)) & 0xFF;
        const bool zero_fill = kind == kZeroFill || kind == kGbZeroFill || kind == kThreadLocalZeroFill;
        if ((!zero_fill && data != 0 && !Reach(source, data, data_size, 1, end)) ||
            !Reach(source, relocations, relocation_count, 8, end)) {
            return false;
        }
    }
    return true;
}

// The file ranges of one load command of size bytes at p (within the
// commands, so every field read lies inside it once size is checked).
bool ReachCommand(const Source& source, const Layout& l, const uint8_t* p, uint32_t size, uint64_t* end) {
    const uint32_t command = l.U32(p);
    if (command == (l.wide ? kSegment64 : kSegment)) return ReachSegment(source, l, p, size, end);
    if (command == kSymtab) {
        return size >= 24 && Reach(source, l.U32(p + 8), l.U32(p + 12), l.wide ? 16 : 12, end) &&
               Reach(source, l.U32(p + 16), l.U32(p + 20), 1, end);
    }
    if (command == kDysymtab) {
        if (size < 80) return false;
        // Table of contents, modules, references, indirect symbols, relocations.
        const uint32_t units[] = {8, l.wide ? 56u : 52u, 4, 4, 8, 8};
        for (uint32_t i = 0; i < 6; ++i) {
            if (!Reach(source, l.U32(p + 32 + 8 * i), l.U32(p + 36 + 8 * i), units[i], end)) return false;
        }
        return true;
    }
    if (command == kDyldInfo || command == (kDyldInfo | kRequiredByDyld)) {
        if (size < 48) return false;
        for (uint32_t i = 0; i < 5; ++i) {
            if (!Reach(source, l.U32(p + 8 + 8 * i), l.U32(p + 12 + 8 * i), 1, end)) return false;
        }
        return true;
    }
    if (LinkeditData(command)) return size >= 16 && Reach(source, l.U32(p + 8), l.U32(p + 12), 1, end);
    if (command == kTwolevelHints) return size >= 16 && Reach(source, l.U32(p + 8), l.U32(p + 12), 4, end);
    if (command == kNote) return size >= 40 && Reach(source, l.U64(p + 24), l.U64(p + 32), 1, end);
    return true;
}

}  // namespace

bool WalkMachO(Source& source, Found* found) {
    const uint8_t* h = source.Peek(0, 32);
    if (h == nullptr) return false;
    const bool big = Be32(h) == kMagic32 || Be32(h) == kMagic64;
    if (!big && Le32(h) != kMagic32 && Le32(h) != kMagic64) return false;
    const Layout l{(big ? Be32(h) : Le32(h)) == kMagic64, big};
    const uint32_t cpu = l.U32(h + 4), type = l.U32(h + 12), commands = l.U32(h + 16);
    const uint32_t commands_size = l.U32(h + 20), header = l.wide ? 32 : 28;
    if (!KnownCpu(cpu) || ((cpu & kAbi64) != 0) != l.wide || type == 0 || type > kMaxFileType || commands == 0 ||
        commands > kMaxCommands || commands_size / 8 < commands) {
        return false;
    }
    uint64_t end = 0;
    if (!Reach(source, 0, header + uint64_t{commands_size}, 1, &end)) return false;
    uint64_t at = header;
    for (uint32_t i = 0; i < commands; ++i) {
        const uint8_t* p = source.Peek(at, 8);
        if (!source.Step() || p == nullptr) return false;
        const uint32_t size = l.U32(p + 4);
        if (size < 8 || size % 4 != 0 || size > header + uint64_t{commands_size} - at) return false;
        // ReachCommand reads nothing more, so the whole command stays put.
        p = source.Peek(at, size);
        if (p == nullptr || !ReachCommand(source, l, p, size, &end)) return false;
        at += size;
    }
    if (at != header + uint64_t{commands_size}) return false;

    if (type == kObject) {
        *found = {end, "o", "Mach-O object"};
    } else if (type == kDylib) {
        *found = {end, "dylib", "Mach-O library"};
    } else if (type == kBundle) {
        *found = {end, "bundle", "Mach-O bundle"};
    } else if (type == kCore) {
        *found = {end, "core", "Mach-O core dump"};
    } else if (type == kExecute) {
        *found = {end, "macho", "Mach-O program"};
    } else {
        *found = {end, "macho", "Mach-O file"};
    }
    return true;
}

}  // namespace formathound
