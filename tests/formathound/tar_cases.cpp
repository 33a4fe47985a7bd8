// TAR rows: the record padding taken while it lasts, checksums summed
// signed, base-256 sizes, and headers damaged, unknown or left without
// their entry or end marker.
#include <cstdio>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

struct Header {
    std::string name = "file.txt";
    char type = '0';
    uint64_t size = 0;
    bool gnu = false;
    bool base256 = false;  // the size in GNU's base-256 form
    bool signed_sum = false;
};

// A 512-byte header with its checksum.
Bytes Make(const Header& h) {
    Bytes block(512, 0);
    std::copy(h.name.begin(), h.name.end(), block.begin());
    char field[16];
    std::snprintf(field, sizeof(field), "%07o", 0644);
    std::copy(field, field + 8, block.begin() + 100);
    std::snprintf(field, sizeof(field), "%011llo", static_cast<unsigned long long>(h.size));
    std::copy(field, field + 12, block.begin() + 124);
    if (h.base256) {
        std::fill(block.begin() + 124, block.begin() + 136, 0);
        block[124] = 0x80;
        for (int i = 0; i < 8; ++i) block[135 - i] = static_cast<uint8_t>(h.size >> (8 * i));
    }
    block[156] = static_cast<uint8_t>(h.type);
    const std::string magic = h.gnu ? std::string("ustar  \0", 8) : std::string("ustar\0" "00", 8);
    std::copy(magic.begin(), magic.end(), block.begin() + 257);
    // A byte above 0x7F in the link name, so that the signed sum differs.
    block[200] = 0xE9;
    long sum = 0;
    for (int i = 0; i < 512; ++i) {
        const uint8_t byte = i >= 148 && i < 156 ? ' ' : block[i];
        sum += h.signed_sum ? static_cast<int8_t>(byte) : byte;
    }
    std::snprintf(field, sizeof(field), "%06lo", sum);
    std::copy(field, field + 7, block.begin() + 148);
    block[155] = ' ';
    return block;
}

// The entry's data, padded to whole blocks.
Bytes Data(size_t size) {
    Bytes data((size + 511) / 512 * 512, 0);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>('a' + i % 26);
    return data;
}

const Bytes kEnd(1024, 0);

}  // namespace

std::vector<Case> TarCases() {
    const Bytes one = Cat({Make({}), Data(0)});
    const Bytes file = Cat({Make({"file.txt", '0', 700}), Data(700), kEnd});
    const Bytes gnu = Cat({Make({"././@LongLink", 'L', 120, true}), Data(120), Make({"x", '0', 5, true}), Data(5),
                           Make({"d/", '5', 0, true}), Make({"l", '2', 0, true}), kEnd});
    const Bytes padded = Cat({file, Bytes(10240 - file.size(), 0)});
    const Bytes pax = Cat({Make({"PaxHeaders/x", 'x', 30}), Data(30), Make({}), kEnd});
    const Bytes signed_sum = Cat({Make({"s", '0', 3, false, false, true}), Data(3), kEnd});
    const Bytes large = Cat({Make({"big", '0', 600, true, true}), Data(600), kEnd});
    Bytes flipped = file;
    flipped[20] ^= 0x01;
    return {
        {"TAR ustar entry", Cat({file, Text("after")}), file.size(), "tar"},
        {"TAR GNU long name, directory, symlink", Cat({gnu, Text("after")}), gnu.size(), "tar"},
        {"TAR record padding", Cat({padded, Text("after")}), padded.size(), "tar"},
        {"TAR padding cut by the data end", Cat({file, Bytes(2048, 0)}), file.size() + 2048, "tar"},
        {"TAR padding up to other data", Cat({file, Bytes(1024, 0), Bytes(512, 1)}), file.size() + 1024, "tar"},
        {"TAR pax header", pax, pax.size(), "tar"},
        {"TAR signed checksum", signed_sum, signed_sum.size(), "tar"},
        {"TAR base-256 size", large, large.size(), "tar"},
        {"TAR flipped header byte", flipped, 0, ""},
        {"TAR unknown type", Cat({Make({"q", 'q'}), kEnd}), 0, ""},
        {"TAR long name without its entry", Cat({Make({"././@LongLink", 'L', 3, true}), Data(3), kEnd}), 0, ""},
        {"TAR one zero block", Cat({one, Bytes(512, 0), Text("after")}), 0, ""},
        {"TAR cut in the data", Bytes(file.begin(), file.begin() + 1000), 0, ""},
        {"TAR magic among zeros", Cat({Bytes(257, 0), Text("ustar"), Bytes(20000, 0)}), 0, ""},
    };
}

}  // namespace formathound_test
