// ELF rows: both classes and byte orders, the kinds by type and interpreter,
// a core of segments alone, extended section numbering, and headers and
// tables that do not hold. Every file with sections has a .bss larger than
// the data, which takes no file bytes.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

struct Elf {
    bool wide = true, big = false;
    uint16_t type = 2;  // executable
    bool interpreter = false, sections = true, extended = false;
    uint16_t header_size = 0;  // 0: the class's own
    uint16_t names = 3;
    uint32_t names_type = 3;  // string table
    uint64_t text_size = 16;  // bytes the .text header claims
};

Bytes Number(uint64_t value, int count, bool big) {
    Bytes out(count);
    for (int i = 0; i < count; ++i) out[big ? count - 1 - i : i] = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

// Header, program headers, interpreter path, .text, the name table and the
// section headers last, as linkers lay them out.
Bytes Build(const Elf& e) {
    const int word = e.wide ? 8 : 4;
    auto n16 = [&](uint64_t v) { return Number(v, 2, e.big); };
    auto n32 = [&](uint64_t v) { return Number(v, 4, e.big); };
    auto nw = [&](uint64_t v) { return Number(v, word, e.big); };
    const uint32_t header = e.wide ? 64 : 52, segment = e.wide ? 56 : 32, section = e.wide ? 64 : 40;
    const uint32_t segments = e.type == 1 ? 0 : e.interpreter ? 2 : 1;
    const uint64_t interpreter_at = header + segments * segment;
    const uint64_t text_at = interpreter_at + (e.interpreter ? 12 : 0);
    const Bytes names = Text(std::string("\0.text\0.bss\0.shstrtab\0\0", 24));
    const uint64_t names_at = text_at + 16, sections_at = names_at + names.size();

    auto segment_header = [&](uint32_t type, uint64_t offset, uint64_t size) {
        return e.wide ? Cat({n32(type), n32(5), nw(offset), nw(0x400000), nw(0x400000), nw(size), nw(size), nw(8)})
                      : Cat({n32(type), nw(offset), nw(0x8000), nw(0x8000), nw(size), nw(size), n32(5), nw(8)});
    };
    auto section_header = [&](uint32_t name, uint32_t type, uint64_t offset, uint64_t size, uint32_t link) {
        return Cat({n32(name), n32(type), nw(0), nw(0), nw(offset), nw(size), n32(link), n32(0), nw(1), nw(0)});
    };
    Bytes out = Cat({{0x7F, 'E', 'L', 'F', static_cast<uint8_t>(e.wide ? 2 : 1),
                      static_cast<uint8_t>(e.big ? 2 : 1), 1},
                     Bytes(9, 0), n16(e.type), n16(e.wide ? 62 : 3), n32(1), nw(0x401000),
                     nw(segments ? header : 0), nw(e.sections ? sections_at : 0), n32(0),
                     n16(e.header_size ? e.header_size : header), n16(segments ? segment : 0), n16(segments),
                     n16(e.sections ? section : 0), n16(e.sections && !e.extended ? 4 : 0),
                     n16(!e.sections ? 0 : e.extended ? 0xFFFF : e.names)});
    if (e.interpreter) out = Cat({out, segment_header(3, interpreter_at, 12)});
    if (segments) out = Cat({out, segment_header(1, 0, text_at + 16)});
    if (e.interpreter) out = Cat({out, Text(std::string("/lib/ld.so\0\0", 12))});
    out = Cat({out, Bytes(16, 0x90)});
    if (!e.sections) return out;
    return Cat({out, names,
               section_header(0, 0, 0, e.extended ? 4 : 0, e.extended ? e.names : 0),
               section_header(1, 1, text_at, e.text_size, 0),
               section_header(7, 8, names_at, 0x100000, 0),
               section_header(12, e.names_type, names_at, names.size(), 0)});
}

Case Row(const char* label, const Elf& e, bool found, const char* extension) {
    const Bytes file = Build(e);
    return {label, Cat({file, Text("after")}), found ? file.size() : 0, found ? extension : ""};
}

}  // namespace

std::vector<Case> ElfCases() {
    Elf pie, exec32be, library32, object64be, core, extended, names_past, names_wrong, header_size, section_past;
    pie.type = 3, pie.interpreter = true;
    exec32be.wide = false, exec32be.big = true;
    library32.wide = false, library32.type = 3;
    object64be.big = true, object64be.type = 1;
    core.type = 4, core.sections = false;
    extended.extended = true;
    names_past.names = 4;
    names_wrong.names = 1;
    header_size.header_size = 52;
    section_past.text_size = 4096;
    const Bytes whole = Build({});
    return {
        Row("ELF 64-bit program with interpreter", pie, true, "elf"),
        Row("ELF 32-bit big-endian program", exec32be, true, "elf"),
        Row("ELF 32-bit library without interpreter", library32, true, "so"),
        Row("ELF 64-bit big-endian object", object64be, true, "o"),
        Row("ELF core of segments alone", core, true, "core"),
        Row("ELF section count in section 0", extended, true, "elf"),
        Row("ELF name table index past the table", names_past, false, ""),
        Row("ELF name table not a string table", names_wrong, false, ""),
        Row("ELF header size of the other class", header_size, false, ""),
        Row("ELF section past the data", section_past, false, ""),
        {"ELF cut short", Bytes(whole.begin(), whole.end() - 1), 0, ""},
    };
}

}  // namespace formathound_test
