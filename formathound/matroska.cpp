// Matroska and WebM files: an EBML header whose DocType names the format,
// then a Segment. Every element is an ID vint (1 to 4 bytes, its length
// marker kept) and a size vint (1 to 8 bytes; all value bits set: unknown).
// A Segment of known size ends the item at its end, its children walked to
// fit it exactly; one of unknown size is walked by its top-level elements
// (Clusters of unknown size by their own children) to the first element of
// no such ID. The Segment needs Info, Tracks and a Cluster. Matroska whose
// tracks are all audio is named mka.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kEbml = 0x1A45DFA3, kDocType = 0x4282, kSegment = 0x18538067;
constexpr uint32_t kInfo = 0x1549A966, kTracks = 0x1654AE6B, kCluster = 0x1F43B675;
constexpr uint32_t kVoid = 0xEC, kCrc32 = 0xBF;
constexpr uint64_t kUnknown = ~uint64_t{0};

constexpr uint32_t kTopLevel[] = {0x114D9B74, kInfo, kTracks, kCluster, 0x1C53BB6B,
                                  0x1941A469, 0x1043A770, 0x1254C367, kVoid, kCrc32};
// A Cluster's children: Timestamp, SilentTracks, Position, PrevSize,
// SimpleBlock, BlockGroup, EncryptedBlock.
constexpr uint32_t kClusterChildren[] = {0xE7, 0x5854, 0xA7, 0xAB, 0xA3, 0xA0, 0xAF, kVoid, kCrc32};

template <size_t N>
bool In(const uint32_t (&ids)[N], uint32_t id) {
    for (const uint32_t known : ids) {
        if (known == id) return true;
    }
    return false;
}

struct Element {
    uint32_t id;
    uint64_t data;  // offset of the element's data
    uint64_t size;  // kUnknown when all value bits are set
};

// The element head at offset; false when it is no valid EBML head.
bool ReadHead(Source& source, uint64_t at, Element* element) {
    const uint64_t left = source.size() > at ? source.size() - at : 0;
    const uint8_t* p = source.Peek(at, left < 12 ? static_cast<uint32_t>(left) : 12);
    if (p == nullptr || left < 2) return false;
    uint32_t id_length = 1;
    while (id_length <= 4 && !(p[0] & (0x80 >> (id_length - 1)))) ++id_length;
    if (id_length > 4 || left < id_length + 1) return false;
    uint32_t id = 0;
    for (uint32_t i = 0; i < id_length; ++i) id = id << 8 | p[i];
    const uint8_t* s = p + id_length;
    uint32_t size_length = 1;
    while (size_length <= 8 && !(s[0] & (0x100 >> size_length))) ++size_length;
    if (size_length > 8 || left < id_length + size_length) return false;
    uint64_t size = s[0] & (0xFF >> size_length);
    bool all_ones = size == (0xFFu >> size_length);
    for (uint32_t i = 1; i < size_length; ++i) {
        size = size << 8 | s[i];
        all_ones = all_ones && s[i] == 0xFF;
    }
    *element = {id, at + id_length + size_length, all_ones ? kUnknown : size};
    return true;
}

// An element of known size that fits before end.
bool Fits(const Element& element, uint64_t end) {
    return element.size != kUnknown && element.data <= end && element.size <= end - element.data;
}

// The EBML header's children, for its DocType.
bool ReadDocType(Source& source, const Element& header, Found* found) {
    const uint64_t end = header.data + header.size;
    for (uint64_t at = header.data; at < end;) {
        Element child;
        if (!source.Step() || !ReadHead(source, at, &child) || !Fits(child, end)) return false;
        if (child.id == kDocType) {
            const uint8_t* text = source.Peek(child.data, static_cast<uint32_t>(child.size));
            if (text == nullptr) return false;
            uint64_t length = child.size;
            while (length > 0 && text[length - 1] == 0) --length;  // the string may be padded
            if (length == 4 && std::memcmp(text, "webm", 4) == 0) {
                *found = {0, "webm", "WebM video"};
                return true;
            }
            if (length == 8 && std::memcmp(text, "matroska", 8) == 0) {
                *found = {0, "mkv", "Matroska video"};
                return true;
            }
            return false;
        }
        at = child.data + child.size;
    }
    return false;
}

struct Seen {
    bool info = false, tracks = false, cluster = false;
    bool video = false, audio = false;  // track types in Tracks
};

// The TrackType (1 video, 2 audio) of each TrackEntry in Tracks.
void ReadTrackTypes(Source& source, const Element& tracks, Seen* seen) {
    const uint64_t end = tracks.data + tracks.size;
    for (uint64_t at = tracks.data; at < end;) {
        Element entry;
        if (!source.Step() || !ReadHead(source, at, &entry) || !Fits(entry, end)) return;
        for (uint64_t child_at = entry.data; entry.id == 0xAE && child_at < entry.data + entry.size;) {
            Element child;
            if (!source.Step() || !ReadHead(source, child_at, &child) || !Fits(child, entry.data + entry.size)) return;
            const uint8_t* type = child.id == 0x83 && child.size == 1 ? source.Peek(child.data, 1) : nullptr;
            seen->video = seen->video || (type != nullptr && *type == 1);
            seen->audio = seen->audio || (type != nullptr && *type == 2);
            child_at = child.data + child.size;
        }
        at = entry.data + entry.size;
    }
}

// Top-level elements from at up to end (the Segment's end, or the data's
// for a Segment of unknown size); the offset where the walk stopped, or
// kUnknown when an element is broken or runs past end.
uint64_t WalkChildren(Source& source, uint64_t at, uint64_t end, bool known, Seen* seen) {
    while (at < end) {
        Element element;
        if (!source.Step()) return kUnknown;
        if (!ReadHead(source, at, &element) || !In(kTopLevel, element.id)) return known ? kUnknown : at;
        seen->info = seen->info || element.id == kInfo;
        seen->tracks = seen->tracks || element.id == kTracks;
        seen->cluster = seen->cluster || element.id == kCluster;
        if (element.size == kUnknown && element.id == kCluster) {
            // Its blocks run to the next top-level element or the end.
            at = element.data;
            while (at < end) {
                Element child;
                if (!source.Step()) return kUnknown;
                if (!ReadHead(source, at, &child) || !In(kClusterChildren, child.id)) break;
                if (!Fits(child, end)) return kUnknown;
                at = child.data + child.size;
            }
            continue;
        }
        if (!Fits(element, end)) return kUnknown;
        if (element.id == kTracks) ReadTrackTypes(source, element, seen);
        at = element.data + element.size;
    }
    return at;
}

}  // namespace

bool WalkMatroska(Source& source, Found* found) {
    Element header;
    if (!ReadHead(source, 0, &header) || header.id != kEbml || header.size > 4096 ||
        !Fits(header, source.size()) || !ReadDocType(source, header, found))
        return false;
    Element segment;
    if (!ReadHead(source, header.data + header.size, &segment) || segment.id != kSegment) return false;
    Seen seen;
    uint64_t end;
    if (segment.size == kUnknown) {
        end = WalkChildren(source, segment.data, source.size(), false, &seen);
    } else {
        if (!Fits(segment, source.size())) return false;  // cut short
        end = WalkChildren(source, segment.data, segment.data + segment.size, true, &seen);
    }
    if (end == kUnknown || !seen.info || !seen.tracks || !seen.cluster) return false;
    // Matroska of audio tracks alone.
    if (seen.audio && !seen.video && std::strcmp(found->extension, "mkv") == 0) *found = {0, "mka", "Matroska audio"};
    found->size = end;
    return true;
}

}  // namespace formathound
