// GIF checker: giflib reads the block structure, decodes every frame's LZW
// data a row at a time and skips the extensions, up to the trailer record
// (not merely the first 00 3B); the item ends after the trailer.
#include <iterator>
#include <vector>

#include <gif_lib.h>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum GifReason : uint8_t {
    kNoReason,
    kBadImageDescriptor,
    kEmptyFrame,
    kPixelLimit,
    kBadImageData,
    kBadHeader,
    kBadBlock,
    kFrameLimit,
    kBadExtension,
    kNoFrame,
    kReasonCount,
};

// Work stays bounded: at most this many pixels decoded in all frames.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;
constexpr int kMaxFrames = 100000;

struct Source {
    CheckBytes bytes;
    uint64_t at;
};

int ReadBytes(GifFileType* gif, GifByteType* out, int count) {
    auto* source = static_cast<Source*>(gif->UserData);
    const uint64_t left = source->bytes.size - source->at;
    const int n = left < static_cast<uint64_t>(count) ? static_cast<int>(left) : count;
    for (int i = 0; i < n; ++i) out[i] = source->bytes.data[source->at + i];
    source->at += n;
    return n;
}

struct Closer {
    GifFileType* gif;
    ~Closer() {
        int error = 0;
        if (gif != nullptr) DGifCloseFile(gif, &error);
    }
};

CheckResult Frame(GifFileType* gif, uint64_t* pixels) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return CheckInvalid(kBadImageDescriptor);
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0) return CheckInvalid(kEmptyFrame);
    *pixels += uint64_t(desc.Width) * uint64_t(desc.Height);
    if (*pixels > kMaxPixels) return CheckUnknown(kPixelLimit);
    std::vector<GifPixelType> line(desc.Width);
    for (int y = 0; y < desc.Height; ++y) {
        if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) {
            return CheckInvalid(kBadImageData);
        }
    }
    return CheckValid(0);
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "bad image descriptor",
    "empty frame",
    "pixel limit",
    "bad image data",
    "bad header",
    "bad block",
    "frame limit",
    "bad extension",
    "no frame",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckGif(CheckBytes bytes) {
    Source source{bytes, 0};
    int error = 0;
    Closer closer{DGifOpen(&source, ReadBytes, &error)};
    GifFileType* gif = closer.gif;
    if (gif == nullptr) return CheckInvalid(kBadHeader);
    uint64_t pixels = 0;
    int frames = 0;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return CheckInvalid(kBadBlock);
        switch (record) {
        case IMAGE_DESC_RECORD_TYPE: {
            if (++frames > kMaxFrames) return CheckUnknown(kFrameLimit);
            const CheckResult frame = Frame(gif, &pixels);
            if (frame.state != CheckState::kValid) return frame;
            break;
        }
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return CheckInvalid(kBadExtension);
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return CheckInvalid(kBadExtension);
            }
            break;
        }
        case TERMINATE_RECORD_TYPE:
            return frames > 0 ? CheckValid(source.at) : CheckInvalid(kNoFrame);
        default:
            return CheckInvalid(kBadBlock);
        }
    }
}

extern const Checker kGifChecker = {CheckGif, kReasons, std::size(kReasons), nullptr};
