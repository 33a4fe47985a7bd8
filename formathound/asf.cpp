// ASF files (WMV, WMA): objects, each a 16-byte GUID and a 64-bit
// little-endian size that counts its own 24 bytes. The Header Object comes
// first, its sub-objects as many as it declares and filling it exactly:
// File Properties (file size, packet size, broadcast flag) and a Stream
// Properties object per stream, whose type names the item. The Data Object
// follows, then the index objects. The item ends behind the last whole
// index object; File Properties' file size moves that end only forward, to
// where objects of any GUID lead from it exactly. A broadcast (live) file
// declares no file size and may declare no data size: its fixed-size
// packets are then walked to the first that is cut short or is none.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

using Guid = uint8_t[16];

constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
// Simple Index, Index, Media Object Index, Timecode Index.
constexpr Guid kIndexObjects[] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
};

// Fixed sizes: an object's GUID and size, the Header Object's own fields,
// File Properties, Stream Properties, the Data Object's own fields.
constexpr uint32_t kObjectBytes = 24, kHeaderBytes = 30, kFilePropertiesBytes = 104;
constexpr uint32_t kStreamPropertiesBytes = 78, kDataBytes = 50;
// The bytes of a packet that IsPacket reads: error correction, flags and
// three length fields of up to four bytes each.
constexpr uint32_t kPacketPeek = 24;
// A walk that runs out of steps rejects.
constexpr uint64_t kFail = ~uint64_t{0};

bool Is(const uint8_t* bytes, const Guid& guid) { return std::memcmp(bytes, guid, sizeof(Guid)) == 0; }

bool IsIndex(const uint8_t* bytes) {
    for (const Guid& guid : kIndexObjects) {
        if (Is(bytes, guid)) return true;
    }
    return false;
}

struct Object {
    Guid guid;
    uint64_t size;
};

// The object at offset, whole before end; false when its size is below its
// own GUID and size or runs past end.
bool ReadObject(Source& source, uint64_t at, uint64_t end, Object* object) {
    const uint8_t* p = at <= end && end - at >= kObjectBytes ? source.Peek(at, kObjectBytes) : nullptr;
    if (p == nullptr) return false;
    std::memcpy(object->guid, p, sizeof(Guid));
    object->size = Le64(p + 16);
    return object->size >= kObjectBytes && object->size <= end - at;
}

struct Header {
    uint64_t size = 0;         // of the Header Object
    uint64_t file_size = 0;    // as File Properties declares it
    uint32_t packet_size = 0;  // 0 unless the least and the most agree
    bool broadcast = false, properties = false, audio = false, video = false;
    uint32_t streams = 0;
};

// The Header Object at offset 0 and the sub-objects it declares.
bool ReadHeader(Source& source, Header* header) {
    const uint8_t* p = source.Peek(0, kHeaderBytes);
    // The second reserved byte is 2; readers fail the file otherwise.
    if (p == nullptr || !Is(p, kHeaderObject) || p[29] != 0x02) return false;
    header->size = Le64(p + 16);
    const uint32_t declared = Le32(p + 24);
    if (header->size < kHeaderBytes || header->size > source.size()) return false;
    uint32_t count = 0;
    uint64_t at = kHeaderBytes;
    while (at < header->size) {
        Object object;
        if (!source.Step() || !ReadObject(source, at, header->size, &object)) return false;
        if (Is(object.guid, kFileProperties)) {
            const uint8_t* f = object.size >= kFilePropertiesBytes && !header->properties
                                   ? source.Peek(at, kFilePropertiesBytes)
                                   : nullptr;
            if (f == nullptr) return false;
            header->properties = true;
            header->file_size = Le64(f + 40);
            header->broadcast = Le32(f + 88) & 1;
            header->packet_size = Le32(f + 92) == Le32(f + 96) ? Le32(f + 92) : 0;
        } else if (Is(object.guid, kStreamProperties)) {
            const uint8_t* type = object.size >= kStreamPropertiesBytes ? source.Peek(at + kObjectBytes, 16) : nullptr;
            if (type == nullptr) return false;
            ++header->streams;
            header->audio = header->audio || Is(type, kAudioMedia);
            header->video = header->video || Is(type, kVideoMedia);
        }
        ++count;
        at += object.size;
    }
    return count == declared && header->properties && header->streams > 0;
}

// A length field of the given 2-bit type (none, byte, word, dword) at *p;
// moves *p past it.
uint32_t LengthField(const uint8_t** p, uint32_t type) {
    const uint8_t* f = *p;
    constexpr uint32_t kBytes[4] = {0, 1, 2, 4};
    *p += kBytes[type];
    return type == 1 ? f[0] : type == 2 ? Le16(f) : type == 3 ? Le32(f) : 0;
}

// A data packet's first bytes: error correction flags 0x82 and their two
// bytes, or none; the length type flags (bit 7 clear); the property flags
// with the length types that the format fixes (0x5D); a packet length and a
// padding length, where present, within the packet.
bool IsPacket(const uint8_t* p, uint32_t packet_size) {
    if (p[0] & 0x80) {
        if (p[0] != 0x82) return false;
        p += 3;
    }
    const uint32_t lengths = p[0];
    if ((lengths & 0x80) != 0 || p[1] != 0x5D) return false;
    p += 2;
    const uint32_t length_type = lengths >> 5 & 3;
    const uint32_t length = LengthField(&p, length_type);
    LengthField(&p, lengths >> 1 & 3);  // the sequence
    const uint32_t padding = LengthField(&p, lengths >> 3 & 3);
    return (length_type == 0 || length <= packet_size) && padding < packet_size;
}

// Packets of packet_size from at, to the first that is cut short or no
// packet: where they end, at itself when there is none, or kFail.
uint64_t WalkPackets(Source& source, uint64_t at, uint32_t packet_size) {
    if (packet_size < kPacketPeek) return at;
    while (packet_size <= source.size() - at) {
        if (!source.Step()) return kFail;
        const uint8_t* p = source.Peek(at, kPacketPeek);
        if (p == nullptr || !IsPacket(p, packet_size)) break;
        at += packet_size;
    }
    return at;
}

// Objects of any GUID but a Header Object's (that begins another file) from
// at: end when they end there exactly, else at; kFail when the steps run out.
uint64_t ObjectsTo(Source& source, uint64_t at, uint64_t end) {
    for (uint64_t next = at; next != end;) {
        Object object;
        if (!source.Step()) return kFail;
        if (!ReadObject(source, next, end, &object) || Is(object.guid, kHeaderObject)) return at;
        next += object.size;
    }
    return end;
}

}  // namespace

bool WalkAsf(Source& source, Found* found) {
    Header header;
    if (!ReadHeader(source, &header)) return false;
    const uint8_t* data = source.Peek(header.size, kDataBytes);
    if (data == nullptr || !Is(data, kDataObject) || Le16(data + 48) != 0x0101) return false;
    const uint64_t data_size = Le64(data + 16);
    uint64_t at = header.size + kDataBytes;
    if (header.broadcast && data_size <= kDataBytes) {
        // A live file, written where it could not go back: the data size is
        // 0 (unknown) or holds the Data Object's own fields alone.
        const uint64_t end = WalkPackets(source, at, header.packet_size);
        if (end == kFail || end == at) return false;
        at = end;
    } else {
        if (data_size <= kDataBytes || data_size > source.size() - header.size) return false;
        at = header.size + data_size;
    }
    // Index objects, to the first of another GUID or cut short.
    for (Object object; ReadObject(source, at, source.size(), &object) && IsIndex(object.guid);) {
        if (!source.Step()) return false;
        at += object.size;
    }
    if (header.broadcast) {
        // A live file declares no file size. Saved from a pipe, it may end
        // with the streaming framing's 12-byte end chunk: "$E", its length 8.
        const uint8_t* chunk = source.size() - at >= 12 ? source.Peek(at, 12) : nullptr;
        if (chunk != nullptr && std::memcmp(chunk, "$E", 2) == 0 && Le16(chunk + 2) == 8 && Le16(chunk + 10) == 8)
            at += 12;
    } else if (header.file_size > at && header.file_size <= source.size()) {
        // The file declares more: objects of other GUIDs before its end.
        // Where they do not lead there exactly, the size is stale or the
        // file cut short, and the item ends behind the objects walked.
        at = ObjectsTo(source, at, header.file_size);
        if (at == kFail) return false;
    }
    if (header.video) {
        *found = {at, "wmv", "Windows Media video"};
    } else {
        *found = {at, "wma", header.audio ? "Windows Media audio" : "ASF stream"};
    }
    return true;
}

}  // namespace formathound
