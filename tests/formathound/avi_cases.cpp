// RIFF AVI rows: a header and movi, OpenDML continuations whole and cut,
// chunks that run past their parent, parts missing, a file cut short.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A chunk: ID, little-endian size, data and a pad byte when the size is odd.
Bytes Chunk(const std::string& id, const Bytes& data) {
    Bytes out = Cat({Text(id), Le32(static_cast<uint32_t>(data.size())), data});
    if (data.size() % 2 == 1) out.push_back(0);
    return out;
}

Bytes List(const std::string& type, const Bytes& body) { return Chunk("LIST", Cat({Text(type), body})); }
Bytes Riff(const std::string& form, const Bytes& body) { return Chunk("RIFF", Cat({Text(form), body})); }

}  // namespace

std::vector<Case> AviCases() {
    const Bytes strl = List("strl", Cat({Chunk("strh", Bytes(56, 0)), Chunk("strf", Bytes(40, 0))}));
    const Bytes hdrl = List("hdrl", Cat({Chunk("avih", Bytes(56, 0)), strl}));
    const Bytes movi = List("movi", Cat({Chunk("00dc", Bytes(33, 7)), Chunk("01wb", Bytes(20, 1))}));
    const Bytes avi = Riff("AVI ", Cat({hdrl, Chunk("JUNK", Bytes(5, 0)), movi, Chunk("idx1", Bytes(32, 0))}));
    const Bytes avix = Riff("AVIX", movi);
    // A strh whose size runs past its strl, though not past the RIFF.
    const Bytes long_strh = List("strl", Cat({Text("strh"), Le32(90), Bytes(56, 0)}));
    Bytes filled_short = avi;
    filled_short[4] += 2;  // the RIFF claims two bytes its chunks do not fill
    return {
        {"AVI", Cat({avi, Text("after")}), avi.size(), "avi"},
        {"AVI without idx1", Riff("AVI ", Cat({hdrl, movi})), 12 + hdrl.size() + movi.size(), "avi"},
        {"AVI with an AVIX", Cat({avi, avix, Text("after")}), avi.size() + avix.size(), "avi"},
        {"AVI with an AVIX cut short", Cat({avi, Bytes(avix.begin(), avix.end() - 1)}), avi.size(), "avi"},
        {"AVI cut short", Bytes(avi.begin(), avi.end() - 1), 0, ""},
        {"AVI chunk past its parent", Riff("AVI ", Cat({List("hdrl", Cat({Chunk("avih", Bytes(56, 0)), long_strh})),
                                                        movi, Chunk("JUNK", Bytes(64, 0))})), 0, ""},
        {"AVI not filled by its chunks", Cat({filled_short, Text("after")}), 0, ""},
        {"AVI without movi", Riff("AVI ", Cat({hdrl, Chunk("idx1", Bytes(32, 0))})), 0, ""},
        {"AVI without hdrl", Riff("AVI ", Cat({movi, Chunk("idx1", Bytes(32, 0))})), 0, ""},
    };
}

}  // namespace formathound_test
