// Standard MIDI file rows: formats 0 and 1, a chunk of another type between
// tracks, track counts the header gets wrong, tracks cut or unended.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

Bytes Header(uint32_t format, uint32_t tracks, uint32_t division = 96) {
    return Cat({Text("MThd"), Be32(6), Be16(format), Be16(tracks), Be16(division)});
}

Bytes Chunk(const std::string& id, const Bytes& data) {
    return Cat({Text(id), Be32(static_cast<uint32_t>(data.size())), data});
}

// A note on and off, then End of Track unless cut off.
Bytes Track(bool ended = true) {
    const Bytes notes = {0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00};
    return Chunk("MTrk", ended ? Cat({notes, {0x00, 0xFF, 0x2F, 0x00}}) : notes);
}

}  // namespace

std::vector<Case> MidiCases() {
    const Bytes single = Cat({Header(0, 1), Track()});
    const Bytes multi = Cat({Header(1, 2), Track(), Chunk("XFIH", Text("alien")), Track()});
    // SMPTE division: 25 frames per second, 40 ticks each.
    const Bytes smpte = Cat({Header(2, 1, (256 - 25) << 8 | 40), Track()});
    return {
        {"MIDI format 0", Cat({single, Text("after")}), single.size(), "mid"},
        {"MIDI format 1 with another chunk", Cat({multi, Text("after")}), multi.size(), "mid"},
        {"MIDI SMPTE division", smpte, smpte.size(), "mid"},
        {"MIDI format 0 of two tracks", Cat({Header(0, 2), Track(), Track()}), 0, ""},
        {"MIDI fewer tracks than counted", Cat({Header(1, 3), Track(), Track(), Text("after")}), 0, ""},
        {"MIDI more tracks than counted", Cat({Header(1, 1), Track(), Track()}), 0, ""},
        {"MIDI track without End of Track", Cat({Header(0, 1), Track(false), Text("after")}), 0, ""},
        {"MIDI cut short", Bytes(single.begin(), single.end() - 1), 0, ""},
    };
}

}  // namespace formathound_test
