// Ogg streams (Vorbis, Opus, Theora, Speex, FLAC): a run of pages, each
// "OggS", version 0, header flags, granule position, serial number, page
// sequence number, CRC-32 and a segment table. The walk starts at a
// beginning-of-stream page, takes the group of such pages that opens the
// item, follows every logical stream by its serial and sequence numbers with
// every page CRC checked, and ends behind the page that ends the last open
// stream. A further link of a chain starts a new item of its own.
#include <cstring>

#include "formathound/crc.h"
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kHeaderBytes = 27;
constexpr uint8_t kContinued = 0x01, kFirst = 0x02, kLast = 0x04;
// Logical streams of one group; more is no file seen in practice.
constexpr uint32_t kMaxStreams = 32;


uint32_t PageCrc(const uint8_t* page, uint32_t size) {
    uint32_t crc = 0;
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t byte = i >= 22 && i < 26 ? 0 : page[i];  // the CRC field counts as zero
        crc = Crc32Step(crc, byte);
    }
    return crc;
}

struct Stream {
    uint32_t serial;
    uint32_t next_sequence;
    bool ended;
};

struct Codec {
    const char* start;
    uint32_t length;
    const char* extension;
    const char* description;
};

constexpr Codec kCodecs[] = {
    {"\x01vorbis", 7, "ogg", "Ogg Vorbis audio"},
    {"OpusHead", 8, "opus", "Ogg Opus audio"},
    {"\x80theora", 7, "ogv", "Ogg Theora video"},
    {"Speex   ", 8, "spx", "Ogg Speex audio"},
    {"\x7F" "FLAC", 5, "oga", "Ogg FLAC audio"},
};

constexpr const Codec* kTheora = &kCodecs[2];
constexpr Codec kOther = {"", 0, "ogg", "Ogg stream"};

const Codec* FindCodec(const uint8_t* packet, uint32_t length) {
    for (const Codec& codec : kCodecs) {
        if (length >= codec.length && std::memcmp(packet, codec.start, codec.length) == 0) return &codec;
    }
    return &kOther;
}

}  // namespace

bool WalkOgg(Source& source, Found* found) {
    Stream streams[kMaxStreams];
    uint32_t stream_count = 0, open = 0;
    bool grouping = true;  // still in the beginning-of-stream pages
    const Codec* first = nullptr;
    bool video = false;
    uint64_t at = 0;
    for (;;) {
        if (!source.Step()) return false;
        const uint8_t* head = source.Peek(at, kHeaderBytes);
        if (head == nullptr || std::memcmp(head, "OggS", 4) != 0 || head[4] != 0) return false;
        const uint8_t flags = head[5];
        if ((flags & ~(kContinued | kFirst | kLast)) != 0) return false;
        const uint32_t segments = head[26];
        const uint8_t* table = source.Peek(at + kHeaderBytes, segments);
        if (table == nullptr) return false;
        uint32_t size = kHeaderBytes + segments, first_packet = 0;
        bool packet_done = false;
        for (uint32_t i = 0; i < segments; ++i) {
            size += table[i];
            if (!packet_done) first_packet += table[i];
            packet_done = packet_done || table[i] < 255;
        }
        const uint8_t* page = source.Peek(at, size);  // at most 65307 bytes
        if (page == nullptr || PageCrc(page, size) != Le32(page + 22)) return false;
        const uint32_t serial = Le32(page + 14), sequence = Le32(page + 18);

        Stream* stream = nullptr;
        for (uint32_t i = 0; i < stream_count; ++i) {
            if (streams[i].serial == serial) stream = &streams[i];
        }
        if (flags & kFirst) {
            // Beginning pages open the item, one per stream, before any other.
            if (!grouping || stream != nullptr || stream_count == kMaxStreams || sequence != 0 ||
                (flags & kContinued))
                return false;
            const Codec* codec = FindCodec(page + kHeaderBytes + segments, first_packet);
            // The first stream of a known codec names the item (a skeleton
            // or other index stream may come before it).
            if (first == nullptr || first == &kOther) first = codec;
            video = video || codec == kTheora;
            stream = &streams[stream_count++];
            *stream = {serial, 0, false};
            ++open;
        } else {
            if (at == 0 || stream == nullptr || stream->ended || sequence != stream->next_sequence) return false;
            grouping = false;
        }
        stream->next_sequence = sequence + 1;
        at += size;
        if (flags & kLast) {
            stream->ended = true;
            if (--open == 0) break;
        }
    }
    const Codec* chosen = video ? kTheora : first;
    found->extension = chosen->extension;
    found->description = chosen->description;
    found->size = at;
    return true;
}

}  // namespace formathound
