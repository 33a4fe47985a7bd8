// MPEG transport streams (ts) and BDAV streams (m2ts: a 4-byte arrival time
// stamp before each packet): a run of 188-byte packets, each the sync byte
// 0x47, a PID, the adaptation field control and a continuity counter. The
// PAT (PID 0) must stand within the first 8 packets and a PMT within the
// first 4096, both sections with their CRC-32. A packet holds when its adaptation field fits,
// its PID's counter stays or steps by one, and, once a PMT is read, its PID
// is named by the tables, reserved, or met before that PMT. The item ends
// behind the last packet that holds; a packet cut short is not part of it.
#include <cstring>

#include "formathound/crc.h"
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kPacketBytes = 188, kPrefixBytes = 4;
constexpr uint8_t kSync = 0x47;
// Where the tables must have come: a muxer sends them first, and repeats
// them at least every 100 ms. The bound on the PMT also bounds the walks
// that fail for its lack.
constexpr uint32_t kPatWithin = 8, kPmtWithin = 4096;
constexpr uint8_t kPatTable = 0x00, kPmtTable = 0x02;
constexpr uint32_t kPatPid = 0x0000, kLastReservedPid = 0x001F, kPsipPid = 0x1FFB, kNullPid = 0x1FFF;
constexpr uint32_t kPidCount = 8192;
// A PSI section is at most 1024 bytes with its 3-byte head.
constexpr uint32_t kMaxSection = 1024;

// Per PID: the last continuity counter in the low four bits, and flags.
constexpr uint8_t kCounter = 0x0F, kSeen = 0x10, kNamed = 0x20, kPmtPid = 0x40;

// Over a whole section with its CRC field, the CRC is zero.
uint32_t SectionCrc(const uint8_t* bytes, uint32_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < size; ++i) crc = Crc32Step(crc, bytes[i]);
    return crc;
}

struct State {
    uint8_t pids[kPidCount] = {};
    bool pat = false, pmt = false;  // a PAT, a PMT read with their CRCs
    // The one section being gathered over packets of its PID.
    bool gathering = false;
    uint32_t section_pid = 0, section_size = 0, section_filled = 0;
    uint8_t section[kMaxSection];
};

void Name(State& state, uint32_t pid, uint8_t flags) { state.pids[pid] |= kNamed | flags; }

// The PMT's elementary stream loop from offset at to the CRC; names their
// PIDs when name is set. False when the loop does not end at the CRC.
bool StreamLoop(State& state, const uint8_t* s, uint32_t at, uint32_t crc_at, bool name) {
    while (at + 5 <= crc_at) {
        if (name) Name(state, Be16(s + at + 1) & 0x1FFF, 0);
        at += 5 + (Be16(s + at + 3) & 0xFFF);
    }
    return at == crc_at;
}

// A whole section of a PSI PID: a PAT names the PMT PIDs (program 0: the
// network PID), a PMT its PCR PID and elementary stream PIDs.
void ReadSection(State& state) {
    const uint8_t* s = state.section;
    const uint32_t size = state.section_size;
    if (size < 12 || !(s[1] & 0x80) || SectionCrc(s, size) != 0) return;
    const uint32_t crc_at = size - 4;
    if (state.section_pid == kPatPid && s[0] == kPatTable) {
        if ((crc_at - 8) % 4 != 0) return;
        for (uint32_t at = 8; at < crc_at; at += 4) {
            Name(state, Be16(s + at + 2) & 0x1FFF, Be16(s + at) != 0 ? kPmtPid : 0);
        }
        state.pat = true;
    } else if (state.section_pid != kPatPid && s[0] == kPmtTable && size >= 16) {
        const uint32_t loop_at = 12 + (Be16(s + 10) & 0xFFF);
        if (loop_at > crc_at || !StreamLoop(state, s, loop_at, crc_at, false)) return;
        StreamLoop(state, s, loop_at, crc_at, true);
        Name(state, Be16(s + 8) & 0x1FFF, 0);
        state.pmt = true;
    }
}

// Adds up to count bytes to the section being gathered; reads it once whole.
void Gather(State& state, const uint8_t* data, uint32_t count) {
    const uint32_t want = state.section_size - state.section_filled;
    const uint32_t take = count < want ? count : want;
    std::memcpy(state.section + state.section_filled, data, take);
    state.section_filled += take;
    if (state.section_filled == state.section_size) {
        state.gathering = false;
        ReadSection(state);
    }
}

// The payload of a packet of a PSI PID. A unit start carries a pointer to
// the first section that starts in it; bytes before that end the section
// being gathered. Sections follow each other up to stuffing (FF).
void FeedSections(State& state, uint32_t pid, bool unit_start, const uint8_t* data, uint32_t count) {
    const bool ours = state.gathering && state.section_pid == pid;
    if (!unit_start) {
        if (ours) Gather(state, data, count);
        return;
    }
    const uint32_t pointer = data[0];
    if (pointer >= count) return;
    if (ours) Gather(state, data + 1, pointer);
    state.gathering = false;
    data += 1 + pointer;
    count -= 1 + pointer;
    while (count >= 3 && data[0] != 0xFF && !state.gathering) {
        const uint32_t size = 3 + (Be16(data + 1) & 0xFFF);
        if (size > kMaxSection) return;
        state.gathering = true;
        state.section_pid = pid;
        state.section_size = size;
        state.section_filled = 0;
        const uint32_t take = count < size ? count : size;
        Gather(state, data, take);
        data += take;
        count -= take;
    }
}

bool Reserved(uint32_t pid) { return pid <= kLastReservedPid || pid == kPsipPid || pid == kNullPid; }

// One packet: false when it breaks the run's rules.
bool PacketHolds(State& state, const uint8_t* p) {
    if (p[0] != kSync) return false;
    const uint32_t pid = (p[1] & 0x1Fu) << 8 | p[2];
    const uint32_t control = p[3] >> 4 & 3, counter = p[3] & kCounter;
    if (control == 0) return false;
    uint32_t payload = 4;
    bool discontinuity = false;
    if (control & 2) {
        // Alone it fills the packet; before a payload it leaves a byte.
        const uint32_t length = p[4];
        if (control == 2 ? length != 183 : length > 182) return false;
        discontinuity = length > 0 && (p[5] & 0x80);
        payload = 5 + length;
    }
    uint8_t& flags = state.pids[pid];
    // Packets may come before the tables that name their PID.
    if (state.pmt && !(flags & (kSeen | kNamed)) && !Reserved(pid)) return false;
    const uint32_t last = flags & kCounter;
    if ((flags & kSeen) && pid != kNullPid && !discontinuity && counter != last && counter != ((last + 1) & kCounter))
        return false;
    flags = static_cast<uint8_t>((flags & ~kCounter) | kSeen | counter);
    if ((control & 1) && payload < kPacketBytes && (pid == kPatPid || (flags & kPmtPid))) {
        FeedSections(state, pid, p[1] & 0x40, p + payload, kPacketBytes - payload);
    }
    return true;
}

// The run of units (prefix bytes, then a packet) from the candidate
// position: its end, or 0 when it breaks before its PAT and a PMT are read.
uint64_t WalkRun(Source& source, uint32_t prefix) {
    const uint32_t unit = prefix + kPacketBytes;
    State state;
    uint64_t at = 0;
    for (uint32_t index = 0; unit <= source.size() - at; ++index) {
        // A step per 16 packets: recordings of many GiB are common, and the
        // read budget bounds the walk as well.
        if (index % 16 == 0 && !source.Step()) return 0;
        if ((!state.pat && index >= kPatWithin) || (!state.pmt && index >= kPmtWithin)) return 0;
        const uint8_t* p = source.Peek(at + prefix, kPacketBytes);
        if (p == nullptr) return 0;  // past the read budget
        if (!PacketHolds(state, p)) break;
        at += unit;
    }
    return state.pat && state.pmt ? at : 0;
}

// Sync bytes at the first two packets of the layout.
bool Synced(Source& source, uint32_t prefix) {
    const uint32_t second = prefix + kPacketBytes + prefix;  // the second packet's sync byte
    const uint8_t* p = source.Peek(0, second + 1);
    return p != nullptr && p[prefix] == kSync && p[second] == kSync;
}

}  // namespace

bool WalkMpegTs(Source& source, Found* found) {
    // 188-byte packets, or 192-byte units of a time stamp and a packet.
    if (Synced(source, 0)) {
        if (const uint64_t end = WalkRun(source, 0)) {
            *found = {end, "ts", "MPEG transport stream"};
            return true;
        }
    }
    if (Synced(source, kPrefixBytes)) {
        if (const uint64_t end = WalkRun(source, kPrefixBytes)) {
            *found = {end, "m2ts", "BDAV MPEG-2 transport stream"};
            return true;
        }
    }
    return false;
}

}  // namespace formathound
