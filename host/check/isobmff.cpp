// ISO base media checker (MP4, MOV, M4A, 3GP): the chain of top-level boxes
// gives the item's end, behind the last box of a top-level type (a second
// ftyp starts the next file); then libavformat's mov demuxer reads the movie
// box and every sample its tables index, from those bytes alone. Still
// images (HEIF, AVIF: items in a meta box, no movie) are not read: the
// demuxer knows few of them, and an image it cannot read is no bad image.
#include <cstring>
#include <iterator>

#include "formathound/iso_boxes.h"
#include "host/check/check.h"
#include "host/check/demux.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum IsoReason : uint8_t {
    kNoReason,
    kCutShort,
    kBadBox,
    kNoMovie,
    kBoxToDataEnd,
    kStillImage,
    kFirstDemuxReason,
    kReasonCount = kFirstDemuxReason + kDemuxReasonCount,
};

bool Is(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "", "cut short", "bad box", "no movie box", "box of size 0 (to the end of the data)", "still image: not read",
    HOUND_DEMUX_REASONS,
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckIsoMedia(CheckBytes bytes) {
    const uint8_t* p = bytes.data;
    bool movie = false, meta = false;
    uint64_t at = 0;
    while (bytes.size - at >= 8) {
        const uint8_t* box = p + at;
        if (!formathound::IsTopLevelBox(box + 4) || (at > 0 && Is(box + 4, "ftyp"))) break;
        uint64_t size = Be32(box), header = 8;
        if (size == 1) {
            if (bytes.size - at < 16) return CheckInvalid(kCutShort);
            size = Be64(box + 8);
            header = 16;
        }
        if (size < header) {
            if (at == 0) return CheckInvalid(kBadBox);
            // Size 0 runs to the end of the file, which the data's end need not be.
            if (size == 0) return CheckUnknown(kBoxToDataEnd);
            break;
        }
        if (size > bytes.size - at) return CheckInvalid(kCutShort);
        movie = movie || Is(box + 4, "moov");
        meta = meta || Is(box + 4, "meta");
        at += size;
    }
    if (at == 0) return CheckInvalid(kCutShort);
    if (!movie) return meta ? CheckUnknown(kStillImage) : CheckInvalid(kNoMovie);
    return DemuxResult(Demux(p, at, "mov"), kFirstDemuxReason, at);
}

extern const Checker kIsoMediaChecker = {CheckIsoMedia, kReasons, std::size(kReasons), nullptr};
