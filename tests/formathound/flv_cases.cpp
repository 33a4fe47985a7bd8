// FLV rows: tags to the last back-pointer that holds, the header's rules.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// The header with its flags and body offset, then the first back-pointer.
Bytes FlvHeader(uint8_t flags = 5, uint32_t body = 9, uint32_t first_back = 0) {
    Bytes header = Cat({Text("FLV"), {1, flags}, Be32(body)});
    if (body > header.size()) header.resize(body, 0);
    return Cat({header, Be32(first_back)});
}

// A tag of that type byte around data, with its back-pointer.
Bytes Tag(uint8_t type, const Bytes& data) {
    const auto size = static_cast<uint32_t>(data.size());
    return Cat({{type, static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size),
                 0, 0, 40, 0, 0, 0, 0},
                data, Be32(size + 11)});
}

}  // namespace

std::vector<Case> FlvCases() {
    const Bytes script = Tag(18, Text("\x02\x00\x0AonMetaData"));
    const Bytes video = Tag(9, Bytes(30, 0x22)), audio = Tag(8, Bytes(20, 0x2F));
    const Bytes flv = Cat({FlvHeader(), script, video, audio});
    Bytes broken = flv;
    broken.back() ^= 1;
    // A last tag whose size runs past the data.
    const Bytes huge = {9, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x17, 0x01};
    return {
        {"FLV then bytes", Cat({flv, Text("after the last tag")}), flv.size(), "flv"},
        {"FLV with a longer header", Cat({FlvHeader(1, 13), video, video}), 17 + 2 * 45, "flv"},
        {"FLV encrypted tags", Cat({FlvHeader(4), Tag(0x28, Bytes(9, 1)), Tag(0x28, Bytes(9, 1))}), 13 + 2 * 24, "flv"},
        {"FLV last tag cut short", Bytes(flv.begin(), flv.end() - 3), flv.size() - audio.size(), "flv"},
        {"FLV broken back-pointer", broken, flv.size() - audio.size(), "flv"},
        {"FLV tag size past the data", Cat({flv, huge}), flv.size(), "flv"},
        {"FLV one tag", Cat({FlvHeader(), video}), 0, ""},
        {"FLV script data alone", Cat({FlvHeader(), script, script}), 0, ""},
        {"FLV first back-pointer not 0", Cat({FlvHeader(5, 9, 11), video, audio}), 0, ""},
        {"FLV reserved flag bits", Cat({FlvHeader(0x0D), video, audio}), 0, ""},
    };
}

}  // namespace formathound_test
