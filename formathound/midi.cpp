// Standard MIDI files: an MThd chunk (length 6 or more: format, track
// count, division) and the MTrk chunks it announces, each by its big-endian
// length, with no padding; chunks of other types between them are skipped,
// as readers must. The item ends behind the last announced track.
//
// A track is not read event by event: its length alone gives the end. It
// must begin with a delta time and a status byte (no running status is in
// force at its start) and end with the End of Track event FF 2F 00, which
// every track must have last; so a wrong length, or a track count the
// header gets wrong, does not pass. Events between are left alone, as
// players leave writers' quirks there alone.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

// Delta time (one byte at least) and the End of Track event.
constexpr uint32_t kMinTrack = 4;


// The header's format, track count and division; false for values that
// do not exist. Format 0 is one track by definition.
bool HeaderHolds(const uint8_t* head, uint32_t* tracks) {
    const uint32_t format = Be16(head + 8), division = Be16(head + 12);
    *tracks = Be16(head + 10);
    if (format > 2 || *tracks == 0 || (format == 0 && *tracks != 1)) return false;
    if (division & 0x8000) {
        // SMPTE: minus the frames per second, then ticks per frame.
        const uint32_t fps = 256 - (division >> 8);
        return (fps == 24 || fps == 25 || fps == 29 || fps == 30) && (division & 0xFF) != 0;
    }
    return division != 0;  // ticks per quarter note
}

// A track's first event opens with a delta time of at most four bytes and a
// status byte; its last is End of Track.
bool TrackHolds(Source& source, uint64_t data, uint32_t size) {
    if (size < kMinTrack) return false;
    const uint8_t* start = source.Peek(data, size < 5 ? size : 5);
    if (start == nullptr) return false;
    uint32_t delta = 0;
    while (delta < 4 && delta < size && start[delta] >= 0x80) ++delta;
    if (delta == 4 || delta + 1 >= size || start[delta + 1] < 0x80) return false;
    const uint8_t* last = source.Peek(data + size - 3, 3);
    return last != nullptr && last[0] == 0xFF && last[1] == 0x2F && last[2] == 0x00;
}

}  // namespace

bool WalkMidi(Source& source, Found* found) {
    const uint8_t* head = source.Peek(0, 14);
    uint32_t tracks = 0;
    if (head == nullptr || !Is(head, "MThd") || Be32(head + 4) < 6 || !HeaderHolds(head, &tracks)) return false;
    uint64_t at = 8 + uint64_t{Be32(head + 4)};
    if (at > source.size()) return false;
    while (tracks > 0) {
        const uint8_t* chunk = source.size() - at >= 8 ? source.Peek(at, 8) : nullptr;
        if (!source.Step() || chunk == nullptr) return false;
        for (int i = 0; i < 4; ++i) {
            if (chunk[i] < 0x20 || chunk[i] > 0x7E) return false;
        }
        const uint32_t size = Be32(chunk + 4);
        const uint64_t data = at + 8;
        if (size > source.size() - data) return false;  // cut short
        if (Is(chunk, "MTrk")) {
            if (!TrackHolds(source, data, size)) return false;
            --tracks;
        }
        at = data + size;
    }
    // One more track than the header counts: the count is wrong.
    const uint8_t* after = source.size() - at >= 4 ? source.Peek(at, 4) : nullptr;
    if (after != nullptr && Is(after, "MTrk")) return false;
    *found = {at, "mid", "MIDI music"};
    return true;
}

}  // namespace formathound
