// Windows PE rows: PE32 and PE32+, the kinds by flags and subsystem, the
// DOS stubs of other linkers, and the ranges behind the sections that tools
// write only now and then (certificate table, debug data, COFF symbols).
#include <algorithm>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

struct Pe {
    uint16_t machine = 0x8664;
    bool pe32 = false;
    uint16_t flags = 0x0022;  // executable image, large addresses
    uint16_t subsystem = 3;   // console
    uint16_t sections = 2;
    uint32_t directories = 16;
    int optional_delta = 0;   // bytes off the optional header's size
    uint8_t last_page = 0x90, pages = 3;  // the DOS stub's
    uint32_t header_at = 0x80;
    uint32_t symbols_at = 0, symbols = 0;
    uint32_t certificate_at = 0, certificate_size = 0;
    uint32_t debug_rva = 0, debug_size = 0;
};

void Put(Bytes* image, size_t at, const Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), image->begin() + at); }

// Headers in 0x200 bytes, then 0x200 raw bytes of each section (.text at
// RVA 0x1000, .rdata at 0x2000, and so on): 0x600 bytes with two sections.
Bytes Image(const Pe& pe) {
    Bytes image(0x200 + 0x200 * pe.sections, 0xCC);
    std::fill(image.begin(), image.begin() + 0x200, 0);
    Put(&image, 0, {'M', 'Z', pe.last_page, 0, pe.pages, 0});
    Put(&image, 0x3C, Le32(pe.header_at));
    const uint32_t fixed = pe.pe32 ? 96 : 112, optional = fixed + 8 * pe.directories + pe.optional_delta;
    Put(&image, 0x80, Cat({Text("PE"), {0, 0}, Le16(pe.machine), Le16(pe.sections), Le32(0),
                           Le32(pe.symbols_at), Le32(pe.symbols), Le16(optional), Le16(pe.flags)}));
    const size_t o = 0x80 + 24;
    Put(&image, o, Le16(pe.pe32 ? 0x10B : 0x20B));
    Put(&image, o + 32, Cat({Le32(0x1000), Le32(0x200)}));
    Put(&image, o + 56, Cat({Le32(0x1000 * (pe.sections + 1)), Le32(0x200)}));
    Put(&image, o + 68, Le16(pe.subsystem));
    Put(&image, o + fixed - 4, Le32(pe.directories));
    Put(&image, o + fixed + 8 * 4, Cat({Le32(pe.certificate_at), Le32(pe.certificate_size)}));
    Put(&image, o + fixed + 8 * 6, Cat({Le32(pe.debug_rva), Le32(pe.debug_size)}));
    for (uint32_t i = 0; i < pe.sections; ++i) {
        Put(&image, o + optional + 40 * i,
            Cat({Text(std::string(i == 0 ? ".text\0\0\0" : ".rdata\0\0", 8)), Le32(0x100), Le32(0x1000 * (i + 1)),
                 Le32(0x200), Le32(0x200 * (i + 1)), Bytes(12, 0), Le32(0x60000020)}));
    }
    return image;
}

}  // namespace

std::vector<Case> PeCases() {
    const Bytes exe = Image({});
    Pe dll;
    dll.machine = 0x14C, dll.pe32 = true, dll.flags = 0x2102;
    Pe driver;
    driver.subsystem = 1;
    Pe borland;
    borland.last_page = 'P', borland.pages = 2;
    Pe signed_pe;
    signed_pe.certificate_at = 0x600, signed_pe.certificate_size = 0x28;
    const Bytes signature = Image(signed_pe);
    Pe symbols;
    symbols.symbols_at = 0x600, symbols.symbols = 2;
    const Bytes symbol_table = Cat({Bytes(36, 0), Le32(8), Text("name")});
    // A debug directory at the start of .rdata whose entry's raw data lies
    // behind the sections.
    Pe debug;
    debug.debug_rva = 0x2000, debug.debug_size = 28;
    Bytes debugged = Image(debug);
    Put(&debugged, 0x400, Cat({Bytes(12, 0), Le32(2), Le32(0x40), Le32(0), Le32(0x600)}));
    Pe unknown_machine, no_sections, short_optional, far_header, not_image, lld;
    unknown_machine.machine = 0x1234;
    no_sections.sections = 0;
    short_optional.optional_delta = -8;
    far_header.header_at = 0x10000;
    not_image.flags = 0x0020;
    lld.last_page = 0x80, lld.pages = 1;
    return {
        {"PE32+ program", Cat({exe, Text("after")}), 0x600, "exe"},
        {"PE32 library", Image(dll), 0x600, "dll"},
        {"PE native subsystem", Image(driver), 0x600, "sys"},
        {"PE Borland stub", Image(borland), 0x600, "exe"},
        {"PE lld stub", Image(lld), 0x600, "exe"},
        {"PE certificate table", Cat({signature, Bytes(0x28, 0x30), Text("after")}), 0x628, "exe"},
        {"PE certificate table cut short", Cat({signature, Bytes(0x27, 0x30)}), 0, ""},
        {"PE COFF symbols and strings", Cat({Image(symbols), symbol_table, Text("after")}), 0x600 + 36 + 8, "exe"},
        {"PE COFF strings cut short", Cat({Image(symbols), Bytes(36, 0), Le32(90), Text("name")}), 0, ""},
        {"PE debug data behind the sections", Cat({debugged, Bytes(0x40, 1), Text("after")}), 0x640, "exe"},
        {"PE debug data cut short", Cat({debugged, Bytes(0x3F, 1)}), 0, ""},
        {"PE cut short", Bytes(exe.begin(), exe.end() - 1), 0, ""},
        {"PE unknown machine", Image(unknown_machine), 0, ""},
        {"PE no sections", Image(no_sections), 0, ""},
        {"PE optional header short of its directories", Image(short_optional), 0, ""},
        {"PE header past the data", Image(far_header), 0, ""},
        {"PE not an executable image", Image(not_image), 0, ""},
    };
}

}  // namespace formathound_test
