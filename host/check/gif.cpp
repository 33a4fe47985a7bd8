// GIF checker: giflib reads the block structure, decodes every frame's LZW
// data a row at a time and skips the extensions, up to the trailer record
// (not merely the first 00 3B); the item ends after the trailer.
#include <vector>

#include <gif_lib.h>

#include "host/check/check.h"

namespace {

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
    if (DGifGetImageDesc(gif) == GIF_ERROR) return CheckInvalid("gif", "bad image descriptor");
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0) return CheckInvalid("gif", "empty frame");
    *pixels += uint64_t(desc.Width) * uint64_t(desc.Height);
    if (*pixels > kMaxPixels) return CheckUnknown("gif", "pixel limit");
    std::vector<GifPixelType> line(desc.Width);
    for (int y = 0; y < desc.Height; ++y) {
        if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) {
            return CheckInvalid("gif", "bad image data");
        }
    }
    return CheckValid("gif", 0);
}

}  // namespace

CheckResult CheckGif(CheckBytes bytes) {
    Source source{bytes, 0};
    int error = 0;
    Closer closer{DGifOpen(&source, ReadBytes, &error)};
    GifFileType* gif = closer.gif;
    if (gif == nullptr) return CheckInvalid("gif", "bad header");
    uint64_t pixels = 0;
    int frames = 0;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return CheckInvalid("gif", "bad block");
        switch (record) {
        case IMAGE_DESC_RECORD_TYPE: {
            if (++frames > kMaxFrames) return CheckUnknown("gif", "frame limit");
            const CheckResult frame = Frame(gif, &pixels);
            if (frame.state != CheckState::kValid) return frame;
            break;
        }
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return CheckInvalid("gif", "bad extension");
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return CheckInvalid("gif", "bad extension");
            }
            break;
        }
        case TERMINATE_RECORD_TYPE:
            return frames > 0 ? CheckValid("gif", source.at) : CheckInvalid("gif", "no frame");
        default:
            return CheckInvalid("gif", "bad block");
        }
    }
}
