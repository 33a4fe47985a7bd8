// MPEG transport streams built by hand: SDT, PAT and PMT sections with
// their CRCs, video packets, m2ts time stamps, and the rules that end a run.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

constexpr uint32_t kPmtPid = 0x100, kVideoPid = 0x101;

// A 188-byte packet of payload only, filled up with FF.
Bytes Packet(uint32_t pid, uint32_t counter, bool unit_start, const Bytes& payload) {
    Bytes packet = Cat({{0x47, static_cast<uint8_t>((unit_start ? 0x40 : 0) | pid >> 8), static_cast<uint8_t>(pid),
                         static_cast<uint8_t>(0x10 | counter)},
                        payload});
    packet.resize(188, 0xFF);
    return packet;
}

// A section of the long form, its pointer field before it, with its CRC-32
// (initial value all ones: a CRC from 0 over the bytes with the first four
// inverted).
Bytes Section(uint8_t table, const Bytes& body) {
    Bytes section = Cat({{0, table}, Be16(0xB000 | static_cast<uint32_t>(body.size() + 9)), {0, 1, 0xC1, 0, 0},
                         body});
    Bytes flipped(section.begin() + 1, section.end());
    for (int i = 0; i < 4; ++i) flipped[i] ^= 0xFF;
    return Cat({section, Be32(Crc(flipped, 32, 0x04C11DB7))});
}

// One program; its PMT names the video PID, also as PCR PID.
const Bytes kPat = Section(0x00, Cat({Be16(1), Be16(0xE000 | kPmtPid)}));
const Bytes kPmt = Section(0x02, Cat({Be16(0xE000 | kVideoPid), Be16(0xF000), {0x02}, Be16(0xE000 | kVideoPid),
                                      Be16(0xF000)}));

// A packet of PID 0x11, the PAT, the PMT and six video packets.
Bytes Stream(const Bytes& pat) {
    Bytes stream = Cat({Packet(0x11, 0, true, {0, 0x42, 0xF0, 0}), Packet(0, 0, true, pat),
                        Packet(kPmtPid, 0, true, kPmt)});
    for (uint32_t i = 0; i < 6; ++i) stream = Cat({stream, Packet(kVideoPid, i, i == 0, Bytes(184, 0x33))});
    return stream;
}

// Each packet with a 4-byte time stamp before it.
Bytes Bdav(const Bytes& ts) {
    Bytes out;
    for (size_t at = 0; at < ts.size(); at += 188) {
        out = Cat({out, Be32(static_cast<uint32_t>(at)), Bytes(ts.begin() + at, ts.begin() + at + 188)});
    }
    return out;
}

}  // namespace

std::vector<Case> MpegTsCases() {
    const Bytes ts = Stream(kPat);
    Bytes bad_crc = kPat;
    bad_crc[5] ^= 1;  // the stream ID, which nothing else checks
    // Packets of another table before the stream: its PAT comes 8th, or 9th.
    Bytes others;
    // Event table packets, each beginning a section, as a stream may start.
    for (uint32_t i = 0; i < 7; ++i) others = Cat({others, Packet(0x12, i, true, {})});
    const Bytes eighth = Cat({Bytes(others.begin() + 188, others.end()), ts}), ninth = Cat({others, ts});
    // A PMT over two packets: only its second names PID 0x227.
    Bytes entries;
    for (uint32_t pid = 0x200; pid < 0x228; ++pid) entries = Cat({entries, {0x04}, Be16(0xE000 | pid), Be16(0xF000)});
    const Bytes long_pmt = Section(0x02, Cat({Be16(0xFFFF), Be16(0xF000), entries}));
    const Bytes two_packets = Cat({Packet(0, 0, true, kPat), Packet(kPmtPid, 0, true, long_pmt),
                                   Packet(kPmtPid, 1, false, Bytes(long_pmt.begin() + 184, long_pmt.end())),
                                   Packet(0x227, 0, true, {}), Packet(0x227, 1, false, {})});
    return {
        {"SDT, PAT, PMT and video, then other bytes", Cat({ts, Text("after")}), ts.size(), "ts"},
        {"m2ts", Cat({Bdav(ts), Text("after")}), 9 * 192, "m2ts"},
        {"a packet cut short ends the run", Cat({ts, Bytes(ts.begin(), ts.begin() + 187)}), ts.size(), "ts"},
        {"PAT CRC broken", Stream(bad_crc), 0, ""},
        {"no PAT", Cat({Packet(0x11, 0, true, {}), Packet(kPmtPid, 0, true, kPmt),
                        Packet(kVideoPid, 0, true, {}), Packet(kVideoPid, 1, false, {})}),
         0, ""},
        {"PMT over two packets", two_packets, two_packets.size(), "ts"},
        {"PAT as the eighth packet", eighth, eighth.size(), "ts"},
        {"PAT as the ninth packet", ninth, 0, ""},
        {"a counter that skips ends the run", Cat({ts, Packet(kVideoPid, 7, false, {})}), ts.size(), "ts"},
        {"a PID the tables do not name ends the run", Cat({ts, Packet(0x102, 0, false, {})}), ts.size(), "ts"},
        {"adaptation field control 00 ends the run", Cat({ts, Bytes{0x47, 0x01, 0x01, 0x06}, Bytes(184, 0)}),
         ts.size(), "ts"},
    };
}

}  // namespace formathound_test
