// AIFF and AIFF-C rows: the required chunks present or missing, a FORM not
// filled by its chunks or cut short, and an odd FORM ended by its pad byte.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A chunk: ID, big-endian size, data and a pad byte when the size is odd.
Bytes Chunk(const std::string& id, const Bytes& data) {
    Bytes out = Cat({Text(id), Be32(static_cast<uint32_t>(data.size())), data});
    if (data.size() % 2 == 1) out.push_back(0);
    return out;
}

Bytes Form(const std::string& type, const Bytes& body) { return Chunk("FORM", Cat({Text(type), body})); }

// One channel of 16-bit samples at 44100 Hz, as an 80-bit float.
Bytes Comm() { return Cat({Be16(1), Be32(4), Be16(16), {0x40, 0x0E, 0xAC, 0x44}, Bytes(6, 0)}); }

}  // namespace

std::vector<Case> AiffCases() {
    const Bytes comm = Chunk("COMM", Comm());
    const Bytes ssnd = Chunk("SSND", Cat({Be32(0), Be32(0), Bytes(9, 5)}));
    const Bytes aifc_comm = Chunk("COMM", Cat({Comm(), Text("NONE"), {0}}));
    const Bytes fver = Chunk("FVER", Be32(0xA2805140));
    const Bytes aiff = Form("AIFF", Cat({Chunk("NAME", Text("abc")), comm, ssnd}));
    const Bytes aifc = Form("AIFC", Cat({fver, aifc_comm, ssnd}));
    // The SSND's pad byte counted by no size: it is the FORM's own pad.
    const uint32_t odd = static_cast<uint32_t>(4 + comm.size() + ssnd.size() - 1);
    const Bytes odd_form = Cat({Text("FORM"), Be32(odd), Text("AIFF"), comm, ssnd});
    Bytes loose = aiff;
    loose[7] += 4;  // the FORM claims bytes its chunks do not fill
    return {
        {"AIFF", Cat({aiff, Text("after")}), aiff.size(), "aiff"},
        {"AIFC", Cat({aifc, Text("after")}), aifc.size(), "aifc"},
        {"AIFF of odd size", Cat({odd_form, Text("after")}), odd_form.size(), "aiff"},
        {"AIFF cut short", Bytes(aiff.begin(), aiff.end() - 1), 0, ""},
        {"AIFF not filled by its chunks", Cat({loose, Text("more")}), 0, ""},
        {"AIFF chunk past the FORM", Form("AIFF", Cat({comm, ssnd, Text("MARK"), Be32(64)})), 0, ""},
        {"AIFF without SSND", Form("AIFF", comm), 0, ""},
        {"AIFF COMM out of range", Form("AIFF", Cat({Chunk("COMM", Bytes(18, 1)), ssnd})), 0, ""},
        {"AIFC without FVER", Form("AIFC", Cat({aifc_comm, ssnd})), 0, ""},
    };
}

}  // namespace formathound_test
