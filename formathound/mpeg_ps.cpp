// MPEG program streams (mpg, vob): a chain of start codes. A pack header
// (MPEG-1: 12 bytes; MPEG-2: 14 bytes and up to 7 stuffing bytes), its
// system header (00 00 01 BB and a length) and PES packets (00 00 01 BC to
// FF and a length), each found behind the one before by its length; zero
// bytes before a pack (Video CD pads audio packs so) are skipped. The item
// ends with the program end code (00 00 01 B9), included, or behind the
// last whole packet that the chain reaches, or before a pack whose clock
// (SCR) goes back: a stream's clock only rises, so that pack begins another
// file written right behind. An MPEG-2 stream with a DVD navigation pack
// (private stream 2 packets of PCI, then DSI) is a DVD video object; its
// clock may start again where one of the video objects in the file ends.
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint8_t kEndCode = 0xB9, kPack = 0xBA, kSystemHeader = 0xBB, kFirstStream = 0xBC;
constexpr uint8_t kPrivateStream2 = 0xBF;
// The navigation pack's packets by their lengths and substream numbers.
constexpr uint32_t kPciLength = 980, kDsiLength = 1018;
constexpr uint8_t kPci = 0x00, kDsi = 0x01;
// A system header names at most one entry per stream ID (B8 to FF), and
// extended stream IDs in 6-byte entries of ID B7.
constexpr uint8_t kExtendedStream = 0xB7;
constexpr uint32_t kMaxSystemHeader = 6 + 3 * 72 + 6 * 16;
// Packs a stream needs unless it reaches its end code sooner: marker bits
// in each and a start code at each computed offset, which chance does not
// pass.
constexpr uint32_t kMinPacks = 3;
// Zero bytes that may stand before a pack (Video CD writes 20), and the
// most bytes one step looks at: a pack header with its stuffing, or zeros
// and a start code.
constexpr uint32_t kMaxZeros = 32;
constexpr uint32_t kLookBytes = kMaxZeros + 4;

enum Version : uint8_t { kUnknown, kMpeg1, kMpeg2 };

// The system clock reference's 33-bit base (90 kHz) in the pack header at p.
uint64_t Clock(const uint8_t* p, Version version) {
    if (version == kMpeg1) {
        return uint64_t{(p[4] >> 1) & 7u} << 30 | uint64_t{p[5]} << 22 | uint64_t{(p[6] >> 1) & 0x7Fu} << 15 |
               uint64_t{p[7]} << 7 | p[8] >> 1;
    }
    return uint64_t{(p[4] >> 3) & 7u} << 30 | uint64_t{p[4] & 3u} << 28 | uint64_t{p[5]} << 20 |
           uint64_t{(p[6] >> 3) & 0x1Fu} << 15 | uint64_t{p[6] & 3u} << 13 | uint64_t{p[7]} << 5 | (p[8] >> 3 & 0x1Fu);
}

// A clock this close to its 33-bit limit may wrap to a low value.
constexpr uint64_t kClockWrap = (uint64_t{1} << 33) - uint64_t{90000} * 3600;

// The length of the pack header at p (count bytes at hand) when its marker
// bits hold and its mux rate is not zero; 0 otherwise. Sets its version.
uint32_t PackLength(const uint8_t* p, uint32_t count, Version* version) {
    if (count >= 12 && (p[4] & 0xF1) == 0x21) {
        // '0010', SCR with a marker after each part, marker, mux rate, marker.
        const uint32_t mux_rate = (p[9] & 0x7Fu) << 15 | p[10] << 7 | p[11] >> 1;
        if (!(p[6] & 1) || !(p[8] & 1) || !(p[9] & 0x80) || !(p[11] & 1) || mux_rate == 0) return 0;
        *version = kMpeg1;
        return 12;
    }
    if (count >= 14 && (p[4] & 0xC4) == 0x44) {
        // '01', SCR and its extension with markers, mux rate, two markers,
        // then the stuffing length; stuffing bytes are FF.
        const uint32_t mux_rate = uint32_t{p[10]} << 14 | p[11] << 6 | p[12] >> 2;
        if (!(p[6] & 4) || !(p[8] & 4) || !(p[9] & 1) || (p[12] & 3) != 3 || mux_rate == 0) return 0;
        const uint32_t length = 14 + (p[13] & 7u);
        if (length > count) return 0;
        for (uint32_t i = 14; i < length; ++i) {
            if (p[i] != 0xFF) return 0;
        }
        *version = kMpeg2;
        return length;
    }
    return 0;
}

// The system header at offset, whose length field is length: rate bound and
// video bound with their markers, then the stream entries.
bool SystemHeaderHolds(Source& source, uint64_t at, uint32_t length) {
    if (length < 6 || length > kMaxSystemHeader || (length - 6) % 3 != 0) return false;
    const uint8_t* p = source.Peek(at, 6 + length);
    if (p == nullptr || !(p[6] & 0x80) || !(p[8] & 1) || !(p[10] & 0x20)) return false;
    uint32_t entry = 12;
    while (entry < 6 + length) {
        if (p[entry] < kExtendedStream || (p[entry + 1] & 0xC0) != 0xC0) return false;
        entry += p[entry] == kExtendedStream ? 6 : 3;
    }
    return entry == 6 + length;
}

}  // namespace

bool WalkMpegPs(Source& source, Found* found) {
    Version version = kUnknown;
    uint32_t packs = 0, packets = 0;
    uint8_t last_code = 0;
    bool ended = false, navigation = false;
    uint64_t at = 0, end = 0;     // end: behind the last whole packet
    uint64_t dsi_at = ~uint64_t{0};  // where a DSI packet would follow a PCI packet
    uint32_t padding = 0;            // zero bytes last seen between packs
    uint64_t clock = 0;              // the last pack's
    while (source.size() - at >= 4) {
        if (!source.Step()) return false;
        const uint64_t left = source.size() - at;
        const uint32_t count = left < kLookBytes ? static_cast<uint32_t>(left) : kLookBytes;
        const uint8_t* p = source.Peek(at, count);
        if (p == nullptr) return false;  // past the read budget
        if (p[0] != 0 || p[1] != 0 || p[2] != 1) {
            // Video CD audio packs end in zero bytes behind their packets:
            // skipped before the next pack or the end code; behind the last
            // pack, as many as before are the item's.
            uint32_t zeros = 0;
            while (zeros < count && p[zeros] == 0) ++zeros;
            if (zeros >= 3 && zeros + 2 <= count && p[zeros] == 1 &&
                (p[zeros + 1] == kPack || p[zeros + 1] == kEndCode)) {
                padding = zeros - 2;
                at += padding;
                continue;
            }
            if (padding > 0 && zeros >= padding && at == end) end += padding;
            break;
        }
        const uint8_t code = p[3];
        if (code == kEndCode) {
            end = at + 4;
            ended = true;
            break;
        }
        if (code == kPack) {
            Version pack_version = kUnknown;
            const uint32_t length = PackLength(p, count, &pack_version);
            // A cut or broken pack header, or one of the other version, ends the chain.
            if (length == 0 || (version != kUnknown && pack_version != version)) break;
            const uint64_t pack_clock = Clock(p, pack_version);
            if (packs >= kMinPacks && !navigation && pack_clock < clock && clock < kClockWrap) break;
            clock = pack_clock;
            version = pack_version;
            ++packs;
            last_code = code;
            at += length;
            continue;
        }
        if ((code != kSystemHeader && code < kFirstStream) || count < 6) break;
        const uint32_t length = Be16(p + 4);
        // A packet cut short is not part of the item; length 0 exists only
        // in transport streams.
        if (length == 0 || length > left - 6) break;
        if (code == kSystemHeader) {
            // It stands right behind a pack header.
            if (last_code != kPack || !SystemHeaderHolds(source, at, length)) break;
        } else {
            if (code == kPrivateStream2 && length == kPciLength && p[6] == kPci) dsi_at = at + 6 + length;
            if (code == kPrivateStream2 && length == kDsiLength && p[6] == kDsi && at == dsi_at) navigation = true;
            ++packets;
        }
        last_code = code;
        at += 6 + length;
        end = at;
    }
    if (packets == 0 || (packs < kMinPacks && !ended)) return false;
    if (version == kMpeg1) {
        *found = {end, "mpg", "MPEG-1 system stream"};
    } else if (navigation) {
        *found = {end, "vob", "DVD video object"};
    } else {
        *found = {end, "mpg", "MPEG-2 program stream"};
    }
    return true;
}

}  // namespace formathound
