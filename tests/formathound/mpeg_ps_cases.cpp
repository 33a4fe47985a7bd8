// MPEG program streams built by hand: packs of both versions, the end code,
// cut and broken packs, and a DVD navigation pack.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

const Bytes kPackCode = {0, 0, 1, 0xBA};
// Pack headers with all marker bits set: MPEG-2 with two stuffing bytes, MPEG-1.
const Bytes kPack2 = Cat({kPackCode, {0x44, 0, 0x04, 0, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xFA, 0xFF, 0xFF}});
const Bytes kPack1 = Cat({kPackCode, {0x21, 0, 0x01, 0, 0x01, 0x80, 0x1B, 0x83}});
const Bytes kEnd = {0, 0, 1, 0xB9};

Bytes Pes(uint8_t id, const Bytes& body) {
    return Cat({{0, 0, 1, id}, Be16(static_cast<uint32_t>(body.size())), body});
}

// An MPEG-2 pack header whose clock reads scr.
Bytes Pack2At(uint64_t scr) {
    return Cat({kPackCode,
                {static_cast<uint8_t>(0x44 | (scr >> 30 & 7) << 3 | (scr >> 28 & 3)), static_cast<uint8_t>(scr >> 20),
                 static_cast<uint8_t>((scr >> 15 & 0x1F) << 3 | 0x04 | (scr >> 13 & 3)), static_cast<uint8_t>(scr >> 5),
                 static_cast<uint8_t>((scr & 0x1F) << 3 | 0x04), 0x01, 0x01, 0x89, 0xC3, 0xFA, 0xFF, 0xFF}});
}

// A pack of video and audio packets.
Bytes Pack(const Bytes& header) { return Cat({header, Pes(0xE0, Bytes(40, 0x11)), Pes(0xC0, Bytes(30, 0x22))}); }

}  // namespace

std::vector<Case> MpegPsCases() {
    const Bytes pack = Pack(kPack2);
    const Bytes three = Cat({pack, pack, pack});
    const Bytes vcd = Cat({pack, Bytes(20, 0), pack, Bytes(20, 0), pack, Bytes(20, 0)});
    const Bytes system = Pes(0xBB, {0x80, 0, 0x01, 0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0xE8});
    Bytes broken_marker = kPack2;
    broken_marker[6] = 0;
    const Bytes pci = Pes(0xBF, Cat({{0x00}, Bytes(979, 0)})), dsi = Pes(0xBF, Cat({{0x01}, Bytes(1017, 0)}));
    const Bytes dvd = Cat({kPack2, system, pci, dsi, pack, pack});
    const Bytes rising = Cat({Pack(Pack2At(450000)), Pack(Pack2At(450001)), Pack(Pack2At(540000))});
    return {
        {"MPEG-2 packs to the end code, then other bytes", Cat({three, kEnd, kEnd, Text("after")}),
         three.size() + 4, "mpg"},
        {"MPEG-1 packs with a system header, no end code",
         Cat({kPack1, system, Pack(kPack1), Pack(kPack1), Text("after")}), 12 + 15 + 2 * 94, "mpg"},
        {"one pack to its end code", Cat({pack, kEnd}), pack.size() + 4, "mpg"},
        {"a cut pack ends the stream", Cat({three, Bytes(kPack2.begin(), kPack2.begin() + 9)}), three.size(),
         "mpg"},
        {"a packet cut short ends the stream", Cat({three, Bytes(pack.begin(), pack.begin() + 30)}), three.size(),
         "mpg"},
        {"bad marker bits end the stream", Cat({three, Pack(broken_marker)}), three.size(), "mpg"},
        {"bad marker bits in the first pack", Cat({Pack(broken_marker), three}), 0, ""},
        {"two packs and no end code", Cat({pack, pack}), 0, ""},
        {"zero bytes behind each pack", Cat({vcd, Text("after")}), vcd.size(), "mpg"},
        {"MPEG-1 pack after MPEG-2 packs", Cat({three, Pack(kPack1)}), three.size(), "mpg"},
        {"DVD navigation pack", Cat({dvd, Text("after")}), dvd.size(), "vob"},
        {"DSI without its PCI", Cat({kPack2, system, dsi, pci, pack, pack}), dvd.size(), "mpg"},
        {"a clock that goes back begins another file", Cat({rising, Pack(Pack2At(7)), rising}), rising.size(), "mpg"},
        {"a DVD video object's clock may go back", Cat({dvd, Pack(Pack2At(540000)), pack, Text("after")}),
         dvd.size() + 2 * pack.size(), "vob"},
    };
}

}  // namespace formathound_test
