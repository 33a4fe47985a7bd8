// RAR rows, built by hand (no tool in Debian writes RAR): RAR 4 archives
// with and without their end block, 64-bit sizes, a subblock, broken CRCs,
// encrypted headers and cuts; RAR 5 archives with an extra area, broken
// CRCs, no end header, headers out of order.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A RAR 4 block: head (CRC-16, type, flags, size), fields, then data.
Bytes Block4(uint8_t type, uint32_t flags, const Bytes& fields, const Bytes& data = {}) {
    const Bytes head = Cat({{type}, Le16(flags), Le16(static_cast<uint32_t>(7 + fields.size())), fields});
    return Cat({Le16(Crc32(head) & 0xFFFF), head, data});
}

const Bytes kMarker4 = Text("Rar!\x1A\x07");

Bytes Main4(uint32_t flags = 0) { return Cat({kMarker4, {0x00}, Block4(0x73, flags, Bytes(6, 0))}); }

// A file header of that type (file or subblock) with its packed data.
Bytes File4(uint8_t type, const std::string& name, const Bytes& data, bool large = false) {
    const Bytes fields = Cat({Le32(static_cast<uint32_t>(data.size())), Le32(static_cast<uint32_t>(data.size())),
                              {3}, Le32(Crc32(data)), Le32(0x5A2B1C00), {29, 0x30},
                              Le16(static_cast<uint32_t>(name.size())), Le32(0x20),
                              large ? Bytes(8, 0) : Bytes(), Text(name)});
    return Block4(type, 0x8000 | (large ? 0x0100 : 0), fields, data);
}

const Bytes kEnd4 = Block4(0x7B, 0x4000, {});

// A RAR 5 header: CRC-32, size, type, flags, extra and data sizes, fields,
// extra area; then data. Every number here fits one byte.
Bytes Header5(uint8_t type, const Bytes& fields, const Bytes& extra = {}, const Bytes& data = {}) {
    const uint8_t flags = (extra.empty() ? 0 : 1) | (data.empty() ? 0 : 2);
    Bytes body = {type, flags};
    if (!extra.empty()) body.push_back(static_cast<uint8_t>(extra.size()));
    if (!data.empty()) body.push_back(static_cast<uint8_t>(data.size()));
    body = Cat({{static_cast<uint8_t>(body.size() + fields.size() + extra.size())}, body, fields, extra});
    return Cat({Le32(Crc32(body)), body, data});
}

const Bytes kSignature5 = Text("Rar!\x1A\x07\x01");
// Signature and main archive header (archive flags 0).
const Bytes kStart5 = Cat({kSignature5, {0x00}, Header5(1, {0x00})});
// File flags, unpacked size, attributes, compression, host OS, name.
Bytes File5(const Bytes& extra = {}) { return Header5(2, {0x00, 5, 0x20, 0x00, 1, 1, 'a'}, extra, Text("hello")); }
const Bytes kEnd5 = Header5(5, {0x00});

}  // namespace

std::vector<Case> RarCases() {
    const Bytes file = File4(0x74, "a.txt", Text("hello"));
    const Bytes rar4 = Cat({Main4(), file, kEnd4});
    const Bytes rar5 = Cat({kStart5, File5(), kEnd5});
    Bytes broken_file = rar4;
    broken_file[Main4().size() + 3] ^= 1;  // a flag bit of the file header
    const Bytes large = Cat({Main4(), File4(0x74, "a", Text("hello"), true), File4(0x7A, "CMT", Text("note")), kEnd4});
    Bytes broken_main = rar4;
    broken_main[7 + 3] ^= 1;  // a flag bit of the main header
    const Bytes file5 = File5();
    Bytes broken5 = rar5;
    broken5[kStart5.size() + 6] ^= 1;
    return {
        {"RAR 4 archive", Cat({rar4, Text("after")}), rar4.size(), "rar"},
        {"RAR 4 empty archive", Cat({Main4(), kEnd4}), 20 + 7, "rar"},
        {"RAR 4 without end block", Cat({Main4(), file, Text("after")}), 20 + file.size(), "rar"},
        {"RAR 4 64-bit sizes and a subblock", Cat({large, Text("after")}), large.size(), "rar"},
        {"RAR 4 main header CRC broken", broken_main, 0, ""},
        {"RAR 4 file header CRC broken", broken_file, 0, ""},
        {"RAR 4 encrypted headers", Cat({Main4(0x0080), file, kEnd4}), 0, ""},
        {"RAR 4 cut in the end block", Bytes(rar4.begin(), rar4.end() - 1), 20 + file.size(), "rar"},
        {"RAR 4 cut in the packed data", Cat({Main4(), Bytes(file.begin(), file.end() - 1)}), 0, ""},
        {"RAR 5 archive", Cat({rar5, Text("after")}), rar5.size(), "rar"},
        {"RAR 5 extra area", Cat({kStart5, File5({2, 0x05, 0x00}), kEnd5}), rar5.size() + 4, "rar"},
        {"RAR 5 header CRC broken", broken5, 0, ""},
        {"RAR 5 without end header", Cat({kStart5, File5(), Text("after")}), 0, ""},
        {"RAR 5 cut in the data", Cat({kStart5, Bytes(file5.begin(), file5.end() - 1)}), 0, ""},
        {"RAR 5 file header first", Cat({kSignature5, {0x00}, File5(), kEnd5}), 0, ""},
        {"RAR 5 encryption header", Cat({kSignature5, {0x00}, Header5(4, {0x00, 0x00, 15}), kEnd5}), 0, ""},
    };
}

}  // namespace formathound_test
