// Media checkers on libavformat's demuxers (Matroska and WebM, Ogg, MPEG
// transport streams, FLV, ASF, AIFF, MPEG audio and ADTS AAC):
// formathound's walk of the container gives the item's end, and the
// format's demuxer reads the headers and every packet from exactly those
// bytes. Where a walk ends at the last whole packet (transport streams,
// MPEG audio, FLV), a packet of the same stream that stands there and runs
// past the end of the data makes the item cut short.
#include <cstring>
#include <iterator>

#include "host/check/check.h"
#include "host/check/demux.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum MediaReason : uint8_t {
    kNoReason,
    kNoWalk,
    kCutShort,
    kFirstDemuxReason,
    kReasonCount = kFirstDemuxReason + kDemuxReasonCount,
};

// Whether the bytes from end on begin a packet that the data cuts short.
using CutFn = bool (*)(CheckBytes bytes, uint64_t end);

CheckResult CheckDemuxed(CheckBytes bytes, const char* demuxer, CutFn cut) {
    const uint64_t end = WalkEnd(bytes);
    if (end == 0 || end > bytes.size) return CheckInvalid(kNoWalk);
    if (cut != nullptr && cut(bytes, end)) return CheckInvalid(kCutShort);
    return DemuxResult(Demux(bytes.data, end, demuxer), kFirstDemuxReason, end);
}

// A sync byte where a packet of 188 bytes (after a 4-byte time stamp in
// m2ts) would begin and no whole packet left.
bool TransportStreamCut(CheckBytes bytes, uint64_t end, uint64_t prefix) {
    const uint64_t left = bytes.size - end;
    return left < 188 + prefix && left > prefix && bytes.data[end + prefix] == 0x47;
}
bool TsCut(CheckBytes bytes, uint64_t end) { return TransportStreamCut(bytes, end, 0); }
bool M2tsCut(CheckBytes bytes, uint64_t end) { return TransportStreamCut(bytes, end, 4); }

// The length of the MPEG audio or ADTS frame whose header is at p (4 bytes,
// 6 for ADTS), or 0 where none stands there.
uint32_t FrameLength(const uint8_t* p, uint64_t left) {
    if (left < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    if ((p[1] & 0x06) == 0) {  // layer bits 0: ADTS
        if ((p[1] & 0xF0) != 0xF0 || left < 6) return 0;
        return (p[3] & 3u) << 11 | p[4] << 3 | p[5] >> 5;
    }
    // Kbit/s by index 1 to 14: MPEG 1 layers I, II, III; MPEG 2 and 2.5
    // layer I; their layers II and III.
    static const uint16_t kRates[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    };
    static const uint32_t kSampleRates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const uint32_t version = p[1] >> 3 & 3, layer = 4 - (p[1] >> 1 & 3);  // layer 1 to 3
    const uint32_t index = p[2] >> 4, sampling = p[2] >> 2 & 3, padding = p[2] >> 1 & 1;
    if (version == 1 || index == 0 || index == 15 || sampling == 3) return 0;
    const bool mpeg1 = version == 3;
    const uint32_t bit_rate = kRates[mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4)][index - 1] * 1000u;
    const uint32_t sample_rate = kSampleRates[version][sampling];
    if (layer == 1) return (12 * bit_rate / sample_rate + padding) * 4;
    return (layer == 3 && !mpeg1 ? 72 : 144) * bit_rate / sample_rate + padding;
}

// Where the Xing or Info header in a first layer III frame at a says the
// audio ends (its byte count, the frame included); 0 where it does not say.
uint64_t XingEnd(const uint8_t* a, uint64_t left) {
    const uint32_t length = FrameLength(a, left);
    if ((a[1] & 0x06) != 0x02 || length == 0 || length > left) return 0;
    const bool mpeg1 = (a[1] >> 3 & 3) == 3, mono = (a[3] >> 6) == 3;
    const uint32_t at = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (at + 16 > length) return 0;
    const uint8_t* x = a + at;
    if (std::memcmp(x, "Xing", 4) != 0 && std::memcmp(x, "Info", 4) != 0) return 0;
    const uint32_t flags = Be32(x + 4);
    return (flags & 2) ? Be32(x + ((flags & 1) ? 12 : 8)) : 0;
}

// A frame of the first frame's stream (version, layer, sampling rate) whose
// length the data does not hold, or audio short of the byte count of the
// first frame's Xing header; the first frame stands behind ID3v2 tags.
bool AudioCut(CheckBytes bytes, uint64_t end) {
    uint64_t first = 0;
    while (bytes.size - first >= 10 && std::memcmp(bytes.data + first, "ID3", 3) == 0) {
        const uint8_t* t = bytes.data + first;
        first += 10 + (uint64_t{t[6]} << 21 | t[7] << 14 | t[8] << 7 | t[9]) + ((t[5] & 0x10) ? 10 : 0);
        if (first >= end) return false;
    }
    const uint8_t* a = bytes.data + first;
    if (FrameLength(a, end - first) == 0) return false;
    const uint64_t counted = XingEnd(a, end - first);
    if (counted > end - first) return true;
    const uint8_t* b = bytes.data + end;
    const uint64_t left = bytes.size - end;
    const uint32_t length = FrameLength(b, left);
    if (length == 0) return false;
    return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C) && left < length;
}

// An FLV tag (audio, video or script data, reserved bits clear) that the
// data cuts short: its header, data and back-pointer run past the end.
bool FlvCut(CheckBytes bytes, uint64_t end) {
    const uint64_t left = bytes.size - end;
    const uint8_t* tag = bytes.data + end;
    if (left == 0 || (tag[0] & 0xC0) != 0) return false;
    const uint8_t type = tag[0] & 0x1F;
    if (type != 8 && type != 9 && type != 18) return false;
    return left < 11 || 11 + (uint64_t{tag[1]} << 16 | tag[2] << 8 | tag[3]) + 4 > left;
}

CheckResult CheckMatroska(CheckBytes bytes) { return CheckDemuxed(bytes, "matroska", nullptr); }
CheckResult CheckFlv(CheckBytes bytes) { return CheckDemuxed(bytes, "flv", FlvCut); }
CheckResult CheckOgg(CheckBytes bytes) { return CheckDemuxed(bytes, "ogg", nullptr); }
CheckResult CheckAsf(CheckBytes bytes) { return CheckDemuxed(bytes, "asf", nullptr); }
CheckResult CheckAiff(CheckBytes bytes) { return CheckDemuxed(bytes, "aiff", nullptr); }

CheckResult CheckTransportStream(CheckBytes bytes) {
    const bool bdav = bytes.extension != nullptr && std::strcmp(bytes.extension, "m2ts") == 0;
    return CheckDemuxed(bytes, "mpegts", bdav ? M2tsCut : TsCut);
}

// MPEG audio layers I to III by their own demuxer, ADTS by the AAC one.
CheckResult CheckMpegAudio(CheckBytes bytes) {
    const bool adts = bytes.extension != nullptr && std::strcmp(bytes.extension, "aac") == 0;
    return CheckDemuxed(bytes, adts ? "aac" : "mp3", AudioCut);
}

}  // namespace

// The texts of the reasons, by code.
static const char* const kMediaReasons[] = {
    "", "formathound's walk finds no item", "cut short", HOUND_DEMUX_REASONS,
};
static_assert(std::size(kMediaReasons) == kReasonCount, "one text per reason");

#define HOUND_MEDIA_CHECKER(Name, Check) \
    extern const Checker Name = {Check, kMediaReasons, std::size(kMediaReasons), nullptr};
HOUND_MEDIA_CHECKER(kMatroskaChecker, CheckMatroska)
HOUND_MEDIA_CHECKER(kFlvChecker, CheckFlv)
HOUND_MEDIA_CHECKER(kOggChecker, CheckOgg)
HOUND_MEDIA_CHECKER(kAsfChecker, CheckAsf)
HOUND_MEDIA_CHECKER(kAiffChecker, CheckAiff)
HOUND_MEDIA_CHECKER(kMpegTsChecker, CheckTransportStream)
HOUND_MEDIA_CHECKER(kMpegAudioChecker, CheckMpegAudio)
#undef HOUND_MEDIA_CHECKER
