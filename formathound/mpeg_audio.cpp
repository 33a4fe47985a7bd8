// MPEG audio (MPEG 1, 2 and 2.5; layers I, II, III) and ADTS AAC: optional
// ID3v2 tags, then a chain of frames whose headers give each frame's length
// and must agree on the stream (version, layer and sampling rate; for ADTS
// profile, sampling rate and channels), then the tags that players look for
// behind the audio: APE, Lyrics3, ID3v1. No frame is decoded.
// The chain ends behind the last whole frame that a valid header begins; a
// Xing, Info or VBRI header in the first frame bounds it by its counts.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

// A header of the same stream stands by chance where the frame before says
// the next begins with a probability of about 2^-17 (ADTS: 2^-25); four
// frames in a row leave random and compressed data no item. An ID3v2 tag
// before the frames, or counts that the chain meets exactly, are structure
// enough that the first frame and the one it predicts suffice.
constexpr uint64_t kMinFrames = 4;
constexpr uint64_t kMinFramesSupported = 2;
// ID3v2 tags stacked at the start by taggers that add rather than replace.
constexpr int kMaxId3v2Tags = 4;

// Header bits: version 3 is MPEG 1 (2: MPEG 2, 0: MPEG 2.5, 1 reserved);
// layer 3 is layer I (0 reserved, and ADTS).
constexpr uint32_t kVersion1 = 3;
constexpr uint32_t kLayer1 = 3, kLayer2 = 2, kLayer3 = 1;

// Bit rates in kbit/s by index 1 to 14: MPEG 1 layers I, II, III, then
// MPEG 2 and 2.5 layer I, and their layers II and III.
constexpr uint16_t kBitRates[5][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
// Sampling rates in Hz by version bits and index 0 to 2.
constexpr uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

struct Frame {
    uint32_t length;  // bytes with the header
    uint32_t stream;  // the header bits that every frame of the stream shares
    bool adts;
    uint32_t version, layer;
    bool mono;
};

// An MPEG audio header: sync, version, layer, bit rate (free format and
// index 15 refused), sampling rate, padding, emphasis (2 is reserved).
bool MpegHeader(const uint8_t* p, Frame* frame) {
    const uint32_t version = p[1] >> 3 & 3, layer = p[1] >> 1 & 3;
    const uint32_t rate_index = p[2] >> 4, sampling = p[2] >> 2 & 3, padding = p[2] >> 1 & 1;
    // MPEG 2.5 extends layer III alone.
    if (version == 1 || layer == 0 || (version == 0 && layer != kLayer3) || rate_index == 0 || rate_index == 15 ||
        sampling == 3 || (p[3] & 3) == 2)
        return false;
    const uint32_t table = version == kVersion1 ? 3 - layer : (layer == kLayer1 ? 3 : 4);
    const uint32_t bit_rate = kBitRates[table][rate_index - 1] * 1000u;
    const uint32_t sample_rate = kSampleRates[version][sampling];
    uint32_t length;
    if (layer == kLayer1) length = (12 * bit_rate / sample_rate + padding) * 4;
    else if (layer == kLayer3 && version != kVersion1) length = 72 * bit_rate / sample_rate + padding;
    else length = 144 * bit_rate / sample_rate + padding;
    *frame = {length, uint32_t{p[1]} >> 1 << 8 | (p[2] & 0x0Cu), false, version, layer, (p[3] >> 6) == 3u};
    return true;
}

// An ADTS header: sync, layer 0, sampling index 0 to 12, and a 13-bit frame
// length that holds more than the header (7 bytes, 9 with its CRC).
bool AdtsHeader(const uint8_t* p, Frame* frame) {
    const uint32_t length = (p[3] & 3u) << 11 | p[4] << 3 | p[5] >> 5;
    if ((p[2] >> 2 & 0xF) > 12 || length <= ((p[1] & 1) ? 7u : 9u)) return false;
    // The ID bit, profile, sampling index and channel configuration.
    const uint32_t stream = (p[1] & 0x08u) << 16 | (p[2] & 0xFDu) << 8 | (p[3] & 0xC0u);
    *frame = {length, stream, true, 0, 0, false};
    return true;
}

// The frame header at offset; with first given, it must be of first's stream.
bool ReadFrame(Source& source, uint64_t at, const Frame* first, Frame* frame) {
    const uint64_t left = source.size() > at ? source.size() - at : 0;
    const uint8_t* p = left >= 4 ? source.Peek(at, left < 6 ? static_cast<uint32_t>(left) : 6) : nullptr;
    if (p == nullptr || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const bool adts = (p[1] & 0xF6) == 0xF0;
    if (adts ? left < 6 || !AdtsHeader(p, frame) : !MpegHeader(p, frame)) return false;
    return first == nullptr || (frame->adts == first->adts && frame->stream == first->stream);
}

// The length of an ID3v2 tag (version 2 to 4) at offset with its footer;
// 0 when none stands there.
uint64_t Id3v2Length(Source& source, uint64_t at) {
    constexpr uint8_t kUndefinedFlags[5] = {0, 0, 0x3F, 0x1F, 0x0F};
    const uint8_t* p = source.Peek(at, 10);
    if (p == nullptr || std::memcmp(p, "ID3", 3) != 0 || p[3] < 2 || p[3] > 4 || p[4] == 0xFF ||
        (p[5] & kUndefinedFlags[p[3]]) != 0 || ((p[6] | p[7] | p[8] | p[9]) & 0x80) != 0)
        return 0;
    const uint8_t version = p[3], flags = p[5];
    const uint64_t size = uint64_t{p[6]} << 21 | p[7] << 14 | p[8] << 7 | p[9];
    if (version == 4 && (flags & 0x10)) {
        // The footer repeats the header with "3DI".
        const uint8_t* footer = source.Peek(at + 10 + size, 10);
        if (footer == nullptr || std::memcmp(footer, "3DI", 3) != 0 || footer[3] != 4 ||
            Be32(footer + 6) != Be32(p + 6))
            return 0;
        return 20 + size;
    }
    return 10 + size;
}

// Where a Xing, Info or VBRI header in the first frame says the audio ends:
// its byte count from the frame's start (the frame included) and its frame
// count (a Xing count leaves its own frame out); 0 where not given.
struct Counts {
    uint64_t end;
    uint64_t frames;
};

Counts ReadCounts(Source& source, uint64_t at, const Frame& frame) {
    if (frame.adts || frame.layer != kLayer3) return {0, 0};
    // The Xing header follows the side information, whose size depends on
    // version and channels; VBRI stands 32 bytes behind the header.
    const uint32_t side = frame.version == kVersion1 ? (frame.mono ? 17 : 32) : (frame.mono ? 9 : 17);
    const uint8_t* xing = frame.length >= 4 + side + 16 ? source.Peek(at + 4 + side, 16) : nullptr;
    if (xing != nullptr && (std::memcmp(xing, "Xing", 4) == 0 || std::memcmp(xing, "Info", 4) == 0)) {
        const uint32_t flags = Be32(xing + 4);
        const uint8_t* field = xing + 8;
        Counts counts = {0, 0};
        if ((flags & 1) && Be32(field) != 0) counts.frames = uint64_t{Be32(field)} + 1;
        if (flags & 1) field += 4;
        if ((flags & 2) && Be32(field) != 0) counts.end = at + Be32(field);
        return counts;
    }
    const uint8_t* vbri = frame.length >= 36 + 18 ? source.Peek(at + 36, 18) : nullptr;
    if (vbri != nullptr && std::memcmp(vbri, "VBRI", 4) == 0 && Be32(vbri + 10) != 0)
        return {at + Be32(vbri + 10), 0};
    return {0, 0};
}

// ID3v1 at offset, with an extended "TAG+" block before it; its end or 0.
uint64_t Id3v1End(Source& source, uint64_t at) {
    const uint8_t* p = source.Peek(at, 4);
    if (p != nullptr && std::memcmp(p, "TAG+", 4) == 0) {
        const uint8_t* tag = source.Peek(at + 227, 128);
        return tag != nullptr && std::memcmp(tag, "TAG", 3) == 0 ? at + 227 + 128 : 0;
    }
    p = source.Peek(at, 128);
    return p != nullptr && std::memcmp(p, "TAG", 3) == 0 ? at + 128 : 0;
}

constexpr uint32_t kApeHasHeader = 1u << 31, kApeIsHeader = 1u << 29;
constexpr uint32_t kMaxApeItems = 1024;

// An APE tag's header or footer at offset: "APETAGEX", version 1000 or 2000,
// the size of items and footer, the item count, flags, eight zero bytes.
struct ApeBlock {
    uint32_t version, size, items, flags;
};

bool ReadApeBlock(Source& source, uint64_t at, ApeBlock* block) {
    static const uint8_t kZeros[8] = {};
    const uint8_t* p = source.Peek(at, 32);
    if (p == nullptr || std::memcmp(p, "APETAGEX", 8) != 0 || std::memcmp(p + 24, kZeros, 8) != 0) return false;
    *block = {Le32(p + 8), Le32(p + 12), Le32(p + 16), Le32(p + 20)};
    return (block->version == 1000 || block->version == 2000) && block->size >= 32;
}

// An APE tag at offset: a header and the footer that matches it, or items
// (size, flags, key, value) up to a footer that counts them; its end or 0.
uint64_t ApeEnd(Source& source, uint64_t at) {
    ApeBlock header, footer;
    if (ReadApeBlock(source, at, &header)) {
        if (!(header.flags & kApeIsHeader) || !(header.flags & kApeHasHeader) ||
            !ReadApeBlock(source, at + header.size, &footer) || (footer.flags & kApeIsHeader) ||
            footer.version != header.version || footer.size != header.size || footer.items != header.items)
            return 0;
        return at + 32 + header.size;
    }
    uint64_t item = at;
    for (uint32_t count = 0; count < kMaxApeItems && source.Step(); ++count) {
        if (ReadApeBlock(source, item, &footer)) {
            const bool fits = footer.size == item + 32 - at && footer.items == count && count > 0;
            return fits && !(footer.flags & (kApeHasHeader | kApeIsHeader)) ? item + 32 : 0;
        }
        // Value size, flags (bits 3 to 28 unused), then a key of 2 to 255
        // printable characters ended by a zero byte.
        const uint64_t left = source.size() > item ? source.size() - item : 0;
        const uint8_t* p = source.Peek(item, left < 8 + 256 ? static_cast<uint32_t>(left) : 8 + 256);
        if (p == nullptr || left < 8 + 3 || (Le32(p + 4) & 0x1FFFFFF8u) != 0) return 0;
        uint32_t key = 0;
        while (8 + key < left && key < 256 && p[8 + key] >= 0x20 && p[8 + key] <= 0x7E) ++key;
        if (key < 2 || key > 255 || 8 + key >= left || p[8 + key] != 0) return 0;
        item += 8 + key + 1 + uint64_t{Le32(p)};
    }
    return 0;
}

// count decimal digits at p; false when any is no digit.
bool Digits(const uint8_t* p, uint32_t count, uint32_t* value) {
    *value = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        *value = *value * 10 + (p[i] - '0');
    }
    return true;
}

// A Lyrics3 tag at offset: "LYRICSBEGIN", then either fields (three capital
// letters, a 5-digit size, data) up to the 6-digit tag size and
// "LYRICS200" (version 2), or text up to "LYRICSEND" within 5100 bytes
// (version 1); its end or 0.
uint64_t LyricsEnd(Source& source, uint64_t at) {
    constexpr uint32_t kBegin = 11, kMaxText = 5100, kMaxSize = 999999;
    const uint8_t* p = source.Peek(at, kBegin);
    if (p == nullptr || std::memcmp(p, "LYRICSBEGIN", kBegin) != 0) return 0;
    for (uint64_t field = at + kBegin; field - at <= kMaxSize && source.Step();) {
        const uint8_t* f = source.Peek(field, 15);
        uint32_t value;
        if (f == nullptr) break;
        if (std::memcmp(f + 6, "LYRICS200", 9) == 0 && Digits(f, 6, &value))
            return value == field - at ? field + 15 : 0;
        if (f[0] < 'A' || f[0] > 'Z' || f[1] < 'A' || f[1] > 'Z' || f[2] < 'A' || f[2] > 'Z' ||
            !Digits(f + 3, 5, &value))
            break;
        field += 8 + value;
    }
    const uint64_t left = source.size() - at;
    const uint32_t span = left < kBegin + kMaxText + 9 ? static_cast<uint32_t>(left) : kBegin + kMaxText + 9;
    const uint8_t* text = source.Peek(at, span);
    for (uint32_t i = kBegin; text != nullptr && i + 9 <= span; ++i) {
        if (std::memcmp(text + i, "LYRICSEND", 9) == 0) return at + i + 9;
    }
    return 0;
}

// The tags behind the audio from offset: an APE tag and a Lyrics3 tag, each
// at most once and in either order, then ID3v1. Lyrics3 counts only with
// the ID3v1 tag that readers find it by. The end of the last tag that
// stands whole (offset when none does).
uint64_t TagsEnd(Source& source, uint64_t at) {
    uint64_t end = at, next;
    bool ape = false, lyrics = false;
    for (;;) {
        if (!ape && (next = ApeEnd(source, at)) != 0) {
            ape = true;
            at = next;
            if (!lyrics) end = at;
        } else if (!lyrics && (next = LyricsEnd(source, at)) != 0) {
            lyrics = true;
            at = next;
        } else {
            break;
        }
    }
    next = Id3v1End(source, at);
    return next != 0 ? next : end;
}

}  // namespace

bool WalkMpegAudio(Source& source, Found* found) {
    uint64_t at = 0;
    for (int i = 0; i < kMaxId3v2Tags; ++i) {
        const uint64_t tag = Id3v2Length(source, at);
        if (tag == 0) break;
        at += tag;
    }
    const bool tagged = at > 0;
    Frame first, frame;
    if (!ReadFrame(source, at, nullptr, &first)) return false;
    Counts counts = ReadCounts(source, at, first);
    frame = first;
    uint64_t frames = 0;
    bool confirmed = false;
    for (;;) {
        if (!source.Step()) return false;
        if (frame.length > source.size() - at) break;  // cut short: not part of the item
        at += frame.length;
        ++frames;
        // Counts that the chain passes without meeting are wrong: dropped.
        if (counts.end != 0 && at > counts.end) counts = {0, 0};
        if ((counts.end != 0 || counts.frames != 0) && (counts.end == 0 || at == counts.end) &&
            (counts.frames == 0 || frames == counts.frames)) {
            confirmed = true;
            break;
        }
        if (!ReadFrame(source, at, &first, &frame)) break;
    }
    if (frames < (tagged || confirmed ? kMinFramesSupported : kMinFrames)) return false;

    if (first.adts) {
        *found = {0, "aac", "AAC audio (ADTS)"};
    } else if (first.layer == kLayer3) {
        *found = {0, "mp3", "MPEG audio layer III"};
    } else if (first.layer == kLayer2) {
        *found = {0, "mp2", "MPEG audio layer II"};
    } else {
        *found = {0, "mp1", "MPEG audio layer I"};
    }
    found->size = TagsEnd(source, at);
    return true;
}

}  // namespace formathound
