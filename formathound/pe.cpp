// Windows PE images (exe, dll, sys; PE32 and PE32+): the DOS header, whose
// e_lfanew leads to "PE\0\0", the COFF header (a known machine, 1 to 96
// sections, an executable image), the optional header (its magic, its size
// holding the data directories it counts, power-of-two alignments, a known
// subsystem) and the section table. Nothing in the image says its length:
// the item ends behind the furthest of the headers (SizeOfHeaders), each
// section's raw data, the COFF symbol and string tables that GNU ld leaves
// in unstripped images, the debug entries' raw data and the certificate
// table, which signing tools append last. Any of them past the data: cut
// short. Bytes appended behind all of these (installer payloads) are not
// part of the item.
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kDosHeaderBytes = 64;
constexpr uint32_t kCoffHeaderBytes = 24;  // with "PE\0\0"
constexpr uint32_t kSectionBytes = 40;
constexpr uint32_t kSymbolBytes = 18;
constexpr uint32_t kDebugEntryBytes = 28;
constexpr uint32_t kMaxSections = 96;
// Debug directories hold a handful of entries (CodeView, POGO, repro).
constexpr uint32_t kMaxDebugEntries = 64;
// e_lfanew of every linker is a few hundred bytes; a far one is no header.
constexpr uint32_t kMaxHeaderOffset = uint32_t{1} << 24;

constexpr uint32_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr uint32_t kExecutableImage = 0x0002, kDll = 0x2000;
constexpr uint32_t kSubsystemNative = 1, kMaxSubsystem = 16;
constexpr uint32_t kCertificateTable = 4, kDebugTable = 6;

// Machines of the images that linkers write.
constexpr uint16_t kMachines[] = {
    0x014C,  // i386
    0x8664,  // AMD64
    0xAA64,  // ARM64
    0xA641,  // ARM64EC
    0x01C0,  // ARM
    0x01C2,  // Thumb
    0x01C4,  // ARMv7 Thumb-2
    0x0200,  // Itanium
    0x0EBC,  // EFI byte code
    0x0166,  // MIPS R4000
    0x0169,  // MIPS WCE v2
    0x01A2,  // SH3
    0x01A6,  // SH4
    0x01F0,  // PowerPC
    0x01F1,  // PowerPC with FPU
    0x0184,  // Alpha
    0x5032,  // RISC-V 32
    0x5064,  // RISC-V 64
    0x6232,  // LoongArch 32
    0x6264,  // LoongArch 64
};

bool KnownMachine(uint32_t machine) {
    for (const uint16_t known : kMachines) {
        if (machine == known) return true;
    }
    return false;
}

bool PowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The optional header's fields this walk uses, the same in PE32 and PE32+
// up to the data directories.
struct Image {
    uint32_t size_of_headers;
    uint32_t subsystem;
    uint32_t directories;      // data directories present
    const uint8_t* directory;  // the first one, in the window: read it at once
};

// The optional header of size bytes at p.
bool ReadOptional(const uint8_t* p, uint32_t size, Image* image) {
    if (size < 2) return false;
    const uint32_t magic = Le16(p);
    const uint32_t fixed = magic == kPe32 ? 96 : magic == kPe32Plus ? 112 : 0;
    if (fixed == 0 || size < fixed) return false;
    image->directories = Le32(p + fixed - 4);
    if (image->directories > 16 || size < fixed + 8 * image->directories || size > fixed + 8 * 16) return false;
    const uint32_t section_align = Le32(p + 32), file_align = Le32(p + 36);
    if (!PowerOfTwo(file_align) || file_align > 0x10000 || !PowerOfTwo(section_align) ||
        section_align < file_align) {
        return false;
    }
    image->size_of_headers = Le32(p + 60);
    image->subsystem = Le16(p + 68);
    image->directory = p + fixed;
    return image->subsystem <= kMaxSubsystem;
}

// Moves *end behind offset + size; false when that runs past the data.
bool Reach(const Source& source, uint64_t offset, uint64_t size, uint64_t* end) {
    if (offset > source.size() || size > source.size() - offset) return false;
    if (offset + size > *end) *end = offset + size;
    return true;
}

// The raw data of the debug directory's entries. The directory lies at a
// virtual address: the section table maps it to a file offset. A directory
// in no section's raw data adds nothing.
bool ReachDebugData(Source& source, uint64_t table, uint32_t sections, uint32_t rva, uint32_t size,
                    uint64_t* end) {
    if (rva == 0 || size < kDebugEntryBytes) return true;
    uint64_t at = 0;
    for (uint32_t i = 0; i < sections && at == 0; ++i) {
        const uint8_t* s = source.Peek(table + i * kSectionBytes, kSectionBytes);
        if (s == nullptr) return false;
        const uint32_t va = Le32(s + 12), raw_size = Le32(s + 16), raw = Le32(s + 20);
        if (rva >= va && rva - va < raw_size && raw_size - (rva - va) >= size) at = uint64_t{raw} + (rva - va);
    }
    if (at == 0) return true;
    const uint32_t entries = size / kDebugEntryBytes;
    if (entries > kMaxDebugEntries) return false;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = source.Peek(at + i * kDebugEntryBytes, kDebugEntryBytes);
        if (!source.Step() || e == nullptr) return false;
        const uint32_t data_size = Le32(e + 16), data = Le32(e + 24);
        if (data != 0 && !Reach(source, data, data_size, end)) return false;
    }
    return true;
}

}  // namespace

bool WalkPe(Source& source, Found* found) {
    const uint8_t* dos = source.Peek(0, kDosHeaderBytes);
    if (dos == nullptr || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint32_t pe = Le32(dos + 0x3C);
    if (pe < kDosHeaderBytes || pe >= kMaxHeaderOffset) return false;
    const uint8_t* coff = source.Peek(pe, kCoffHeaderBytes);
    if (coff == nullptr || !Is(coff, "PE\0\0")) return false;
    const uint32_t machine = Le16(coff + 4), sections = Le16(coff + 6);
    const uint32_t symbols_at = Le32(coff + 12), symbols = Le32(coff + 16);
    const uint32_t optional_size = Le16(coff + 20), flags = Le16(coff + 22);
    if (!KnownMachine(machine) || sections == 0 || sections > kMaxSections || !(flags & kExecutableImage)) {
        return false;
    }
    Image image;
    const uint8_t* optional = source.Peek(pe + kCoffHeaderBytes, optional_size);
    if (optional == nullptr || !ReadOptional(optional, optional_size, &image)) return false;
    uint32_t certificate_at = 0, certificate_size = 0, debug_rva = 0, debug_size = 0;
    if (image.directories > kCertificateTable) {
        certificate_at = Le32(image.directory + 8 * kCertificateTable);
        certificate_size = Le32(image.directory + 8 * kCertificateTable + 4);
    }
    if (image.directories > kDebugTable) {
        debug_rva = Le32(image.directory + 8 * kDebugTable);
        debug_size = Le32(image.directory + 8 * kDebugTable + 4);
    }
    const uint64_t table = uint64_t{pe} + kCoffHeaderBytes + optional_size;
    if (image.size_of_headers < table + sections * kSectionBytes) return false;
    uint64_t end = 0;
    if (!Reach(source, 0, image.size_of_headers, &end)) return false;

    for (uint32_t i = 0; i < sections; ++i) {
        const uint8_t* s = source.Peek(table + i * kSectionBytes, kSectionBytes);
        if (!source.Step() || s == nullptr) return false;
        const uint32_t raw_size = Le32(s + 16), raw = Le32(s + 20);
        if (raw_size == 0) continue;
        if (raw == 0 || !Reach(source, raw, raw_size, &end)) return false;
    }
    // COFF symbols, then the string table that begins with its own size.
    if (symbols_at != 0) {
        const uint64_t strings = symbols_at + uint64_t{symbols} * kSymbolBytes;
        uint32_t strings_size = 0;
        if (!source.Le32(strings, &strings_size) || strings_size < 4 || !Reach(source, strings, strings_size, &end)) {
            return false;
        }
    }
    if (!ReachDebugData(source, table, sections, debug_rva, debug_size, &end)) return false;
    // The certificate table's address is a file offset, not a virtual one.
    if (certificate_size != 0 && (certificate_at == 0 || !Reach(source, certificate_at, certificate_size, &end))) {
        return false;
    }

    if (flags & kDll) {
        *found = {end, "dll", "Windows library"};
    } else if (image.subsystem == kSubsystemNative) {
        *found = {end, "sys", "Windows driver"};
    } else {
        *found = {end, "exe", "Windows program"};
    }
    return true;
}

}  // namespace formathound
