// Flash video: a 9-byte header ("FLV", version 1, flags for audio and
// video, the offset of the body), then a back-pointer of 0 and tags. Each
// tag is a type (8 audio, 9 video, 18 script data), a 24-bit data size, a
// time stamp, a stream ID of 0 and its data, followed by a back-pointer that
// holds the tag's whole size. The item ends behind the last tag whose
// back-pointer holds; a tag cut short or broken is not part of it.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kTagHeader = 11;
constexpr uint8_t kAudio = 8, kVideo = 9, kScript = 18;
// Flag bits other than audio (4) and video (1) are reserved.
constexpr uint8_t kReservedFlags = 0xFA;
// The header's size in version 1; a body further than 1 KiB on is no file seen.
constexpr uint32_t kHeaderBytes = 9, kMaxHeaderBytes = 1024;
// Two tags, one of them audio or video: the header's 13 fixed bytes and
// two back-pointers leave chance nothing.
constexpr uint32_t kMinTags = 2;

}  // namespace

bool WalkFlv(Source& source, Found* found) {
    const uint8_t* head = source.Peek(0, kHeaderBytes);
    if (head == nullptr || std::memcmp(head, "FLV\x01", 4) != 0 || (head[4] & kReservedFlags) != 0) return false;
    const uint32_t body = Be32(head + 5);
    uint32_t first_back = 1;
    if (body < kHeaderBytes || body > kMaxHeaderBytes || !source.Be32(body, &first_back) || first_back != 0)
        return false;

    uint64_t at = body + 4;  // behind the last tag that holds
    uint32_t tags = 0;
    bool audio = false, video = false;
    for (;;) {
        if (!source.Step()) return false;
        const uint8_t* tag = source.Peek(at, kTagHeader);
        // Two reserved bits, the filter bit (encrypted data), the type.
        if (tag == nullptr || (tag[0] & 0xC0) != 0) break;
        const uint8_t type = tag[0] & 0x1F;
        if ((type != kAudio && type != kVideo && type != kScript) || (tag[8] | tag[9] | tag[10]) != 0) break;
        const uint32_t size = tag[1] << 16 | tag[2] << 8 | tag[3];
        uint32_t back = 0;
        if (!source.Be32(at + kTagHeader + size, &back) || back != kTagHeader + size) break;
        audio = audio || type == kAudio;
        video = video || type == kVideo;
        ++tags;
        at += kTagHeader + size + 4;
    }
    if (tags < kMinTags || !(audio || video)) return false;
    *found = {at, "flv", video ? "Flash video" : "Flash audio"};
    return true;
}

}  // namespace formathound
