// ASF rows: header, data and index objects, the file size that ends them or
// not, live files walked by their packets, hostile sizes.
#include <algorithm>
#include <string>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

const char kVideo[] = "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B";
const char kAudio[] = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";
const char kSimpleIndex[] = "33000890-E5B1-11CF-89F4-00A0C90349CB";
constexpr uint32_t kPacket = 64;

// A GUID's bytes from its text: the first three groups little-endian.
Bytes Guid(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    std::reverse(bytes.begin(), bytes.begin() + 4);
    std::reverse(bytes.begin() + 4, bytes.begin() + 6);
    std::reverse(bytes.begin() + 6, bytes.begin() + 8);
    return bytes;
}

Bytes Object(const char* guid, const Bytes& body) { return Cat({Guid(guid), Le64(24 + body.size()), body}); }

// A Header Object of 212 bytes: File Properties and one stream's properties.
Bytes Header(uint64_t file_size, uint32_t flags, const char* stream, uint32_t count = 2) {
    const Bytes file = Object("8CABDCA1-A947-11CF-8EE4-00C00C205365",
                              Cat({Bytes(16, 0x11), Le64(file_size), Bytes(40, 0), Le32(flags), Le32(kPacket),
                                   Le32(kPacket), Le32(64000)}));
    const Bytes streams = Object("B7DC0791-A9B7-11CF-8EE6-00C00C205365",
                                 Cat({Guid(stream), Bytes(24, 0), Le32(0), Le32(0), Le16(1), Le32(0)}));
    return Object("75B22630-668E-11CF-A6D9-00AA0062CE6C", Cat({Le32(count), {1, 2}, file, streams}));
}

// Packets with error correction, a padding length and a send time.
Bytes Packets(uint32_t count) {
    Bytes packets;
    for (uint32_t i = 0; i < count; ++i) {
        Bytes packet = Cat({{0x82, 0, 0, 0x10, 0x5D}, Le16(30), Le32(100 * i), Le16(100)});
        packet.resize(kPacket, 0x33);
        packets = Cat({packets, packet});
    }
    return packets;
}

// The Data Object around packets, with the size it declares.
Bytes Data(const Bytes& packets, uint64_t size) {
    return Cat({Guid("75B22636-668E-11CF-A6D9-00AA0062CE6C"), Le64(size), Bytes(16, 0x11),
                Le64(packets.size() / kPacket), {1, 1}, packets});
}

}  // namespace

std::vector<Case> AsfCases() {
    const Bytes data = Data(Packets(2), 50 + 2 * kPacket);                          // 178 bytes
    const Bytes index = Object(kSimpleIndex, Bytes(32, 0));                         // 56
    const Bytes other = Object("01234567-89AB-CDEF-0123-456789ABCDEF", Bytes(10, 7));  // 34
    const Bytes after = Text("bytes of no object after the file, long enough for a packet of 64.");
    Bytes header_overflow = Header(446, 2, kVideo);
    std::fill(header_overflow.begin() + 16, header_overflow.begin() + 24, 0xFF);
    return {
        {"WMV: header, data, index, then bytes", Cat({Header(446, 2, kVideo), data, index, after}), 446, "wmv"},
        {"ASF object of another GUID within the file size", Cat({Header(480, 2, kAudio), data, other, index, after}),
         480, "wma"},
        {"ASF object of another GUID past the file size", Cat({Header(390, 2, kAudio), data, other, index}), 390,
         "wma"},
        {"ASF file size past bytes of no object", Cat({Header(490, 2, kAudio), data, Bytes(100, 0)}), 390, "wma"},
        {"ASF index cut short", Cat({Header(446, 2, kVideo), data, Bytes(index.begin(), index.begin() + 40)}), 390,
         "wmv"},
        {"ASF data cut short", Cat({Header(390, 2, kVideo), Bytes(data.begin(), data.end() - 1)}), 0, ""},
        {"ASF data size past the data", Cat({Header(390, 2, kVideo), Data(Packets(2), ~uint64_t{0} - 100), index}),
         0, ""},
        {"ASF header size overflows", Cat({header_overflow, data}), 0, ""},
        {"ASF header count wrong", Cat({Header(390, 2, kVideo, 3), data}), 0, ""},
        {"ASF data size 0, not live", Cat({Header(390, 2, kVideo), Data(Packets(2), 0)}), 0, ""},
        {"ASF live: data size 0, packets then bytes", Cat({Header(0, 1, kVideo), Data(Packets(3), 0), after}),
         212 + 50 + 3 * kPacket, "wmv"},
        {"ASF live from a pipe: index and end chunk",
         Cat({Header(0, 3, kAudio), Data(Packets(2), 50), index, Text("$E"), Le16(8), Bytes(6, 0), Le16(8), after}),
         212 + 50 + 2 * kPacket + 56 + 12, "wma"},
    };
}

}  // namespace formathound_test
