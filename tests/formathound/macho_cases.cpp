// Mach-O rows: 64-bit little-endian and 32-bit big-endian files, the kinds
// by file type, ranges that only symbol tables, relocations or the code
// signature reach, zero-fill sections, and headers that do not hold.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

Bytes Number(uint64_t value, int count, bool big) {
    Bytes out(count);
    for (int i = 0; i < count && i < 8; ++i) out[big ? count - 1 - i : i] = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

// A header over commands, then filler up to size bytes.
Bytes File(bool wide, bool big, uint32_t cpu, uint32_t type, const std::vector<Bytes>& commands, size_t size,
           uint32_t extra_size = 0) {
    Bytes all;
    for (const Bytes& command : commands) all = Cat({all, command});
    Bytes out = Cat({Number(wide ? 0xFEEDFACF : 0xFEEDFACE, 4, big), Number(cpu, 4, big), Number(3, 4, big),
                     Number(type, 4, big), Number(commands.size(), 4, big),
                     Number(all.size() + extra_size, 4, big), Number(0, 4, big), wide ? Number(0, 4, big) : Bytes{},
                     all});
    out.resize(size, 0xAB);
    return out;
}

Bytes Name(const std::string& name) {
    Bytes out = Text(name);
    out.resize(16, 0);
    return out;
}

}  // namespace

std::vector<Case> MachOCases() {
    auto le = [](uint64_t v, int count) { return Number(v, count, false); };
    auto be = [](uint64_t v) { return Number(v, 4, true); };
    // __TEXT with __text and a zero-fill section larger than the data;
    // __LINKEDIT; symbols and strings; the code signature last.
    const std::vector<Bytes> program = {
        Cat({le(0x19, 4), le(232, 4), Name("__TEXT"), le(0, 8), le(0x1000, 8), le(0, 8), le(0x400, 8),
             le(5, 4), le(5, 4), le(2, 4), le(0, 4),
             Name("__text"), Name("__TEXT"), le(0x300, 8), le(0x100, 8), le(0x300, 4), le(4, 4), le(0, 8),
             le(0x80000400, 4), le(0, 12),
             Name("__bss"), Name("__TEXT"), le(0x400, 8), le(0x100000, 8), le(0x300, 4), le(4, 4), le(0, 8),
             le(0x1, 4), le(0, 12)}),
        Cat({le(0x19, 4), le(72, 4), Name("__LINKEDIT"), le(0x1000, 8), le(0x1000, 8), le(0x400, 8), le(0x40, 8),
             le(1, 4), le(1, 4), le(0, 4), le(0, 4)}),
        Cat({le(0x2, 4), le(24, 4), le(0x400, 4), le(2, 4), le(0x420, 4), le(0x20, 4)}),
        Cat({le(0x1D, 4), le(16, 4), le(0x440, 4), le(0x30, 4)}),
    };
    // One unnamed segment of one section whose relocations lie behind it,
    // then the symbols.
    const std::vector<Bytes> object = {
        Cat({be(0x1), be(124), Name(""), be(0), be(0x20), be(0x100), be(0x20), be(7), be(7), be(1), be(0),
             Name("__text"), Name("__TEXT"), be(0), be(0x20), be(0x100), be(2), be(0x120), be(2),
             be(0x80000400), be(0), be(0)}),
        Cat({be(0x2), be(24), be(0x130), be(1), be(0x13C), be(4)}),
    };
    // A segment and a command that names no file range (LC_ID_DYLIB).
    const std::vector<Bytes> library = {
        Cat({le(0x1, 4), le(56, 4), Name("__TEXT"), le(0, 4), le(0x1000, 4), le(0, 4), le(0x200, 4), le(5, 4),
             le(5, 4), le(0, 4), le(0, 4)}),
        Cat({le(0xD, 4), le(24, 4), le(24, 4), le(0, 12)}),
    };
    const Bytes signed_program = File(true, false, 0x01000007, 2, program, 0x470);
    return {
        {"Mach-O 64-bit program with code signature", Cat({signed_program, Text("after")}), 0x470, "macho"},
        {"Mach-O code signature cut short", Bytes(signed_program.begin(), signed_program.end() - 1), 0, ""},
        {"Mach-O 32-bit big-endian object", Cat({File(false, true, 18, 1, object, 0x140), Text("after")}), 0x140,
         "o"},
        {"Mach-O 32-bit library", File(false, false, 7, 6, library, 0x200), 0x200, "dylib"},
        {"Mach-O commands short of sizeofcmds", File(false, false, 7, 6, library, 0x200, 8), 0, ""},
        {"Mach-O 32-bit CPU in a 64-bit header", File(true, false, 7, 2, program, 0x470), 0, ""},
        {"Mach-O unknown file type", File(false, false, 7, 99, library, 0x200), 0, ""},
    };
}

}  // namespace formathound_test
