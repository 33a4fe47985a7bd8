// ISO 9660 rows: the end at the volume space, descriptors of each kind
// before the terminator, a UDF sequence behind it, both-endian halves that
// disagree, and images cut short or without a terminator.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A volume descriptor of that type: "CD001", version 1.
Bytes Descriptor(uint8_t type) {
    Bytes d(2048, 0);
    d[0] = type;
    const Bytes id = Text("CD001");
    std::copy(id.begin(), id.end(), d.begin() + 1);
    d[6] = 1;
    return d;
}

void Put(Bytes& d, size_t at, const Bytes& value) { std::copy(value.begin(), value.end(), d.begin() + at); }

// The primary: blocks of block_size, path tables at 20 and 21, root at 22.
Bytes Primary(uint32_t blocks, uint32_t block_size = 2048) {
    Bytes d = Descriptor(1);
    Put(d, 80, Cat({Le32(blocks), Be32(blocks)}));
    Put(d, 120, Cat({Le16(1), Be16(1), Le16(1), Be16(1), Le16(block_size), Be16(block_size)}));
    Put(d, 132, Cat({Le32(10), Be32(10), Le32(20), Le32(0), Be32(21), Be32(0)}));
    d[156] = 34;
    Put(d, 158, Cat({Le32(22), Be32(22), Le32(2048), Be32(2048)}));
    d[881] = 1;
    return d;
}

// A sector of the UDF volume recognition sequence.
Bytes Recognition(const std::string& id) {
    Bytes d(2048, 0);
    Put(d, 1, Text(id));
    d[6] = 1;
    return d;
}

}  // namespace

std::vector<Case> Iso9660Cases() {
    const Bytes area(32768, 0);
    // 24 blocks of 2048 bytes: the system area, three descriptors, the rest.
    const Bytes plain = Cat({area, Primary(24), Descriptor(255), Bytes(6 * 2048, 0x33)});
    const Bytes udf = Cat({area, Descriptor(0), Primary(24), Descriptor(2), Descriptor(255), Recognition("BEA01"),
                           Recognition("NSR02"), Recognition("TEA01"), Bytes(17 * 2048 - 32768, 0x33)});
    Bytes halves = plain;
    halves[32768 + 87] ^= 0x01;  // the big-endian volume space size
    const Bytes small_blocks = Cat({area, Primary(96, 512), Descriptor(255), Bytes(96 * 512 - 36864, 0x33)});
    return {
        {"ISO 9660 image", Cat({plain, Text("after")}), plain.size(), "iso"},
        {"ISO 9660 boot, supplementary and UDF", udf, 24 * 2048, "iso"},
        {"ISO 9660 blocks of 512 bytes", small_blocks, 96 * 512, "iso"},
        {"ISO 9660 volume space halves disagree", halves, 0, ""},
        {"ISO 9660 cut short", Bytes(plain.begin(), plain.end() - 2048), 0, ""},
        {"ISO 9660 without terminator", Cat({area, Primary(24), Bytes(7 * 2048, 0)}), 0, ""},
        {"ISO 9660 block size 1000", Cat({area, Primary(24, 1000), Descriptor(255), Bytes(6 * 2048, 0)}), 0, ""},
        {"ISO 9660 path table outside", Cat({area, Primary(20), Descriptor(255), Bytes(4 * 2048, 0)}), 0, ""},
    };
}

}  // namespace formathound_test
