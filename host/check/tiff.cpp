// TIFF checker (TIFF, BigTIFF and the camera raw files built on it): libtiff
// opens the item from memory and reads every directory of its chain and
// every strip or tile of each, decoding those of the common lossless
// compressions and of 8-bit JPEG (raw sensor data, lossless JPEG and
// makers' own codings it only reads, as stored). The end is the one
// formathound's walk finds: after the highest byte that any directory,
// value, strip or tile lies in; libtiff reads within it.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "host/check/check.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum TiffReason : uint8_t {
    kNoReason,
    kNoEnd,
    kCannotOpen,
    kBadDirectory,
    kBadImageData,
    kReasonCount,
};

// Decoding stops after this many bytes of image data; the rest is read as
// stored. One strip or tile larger than kMaxBlock is read as stored only.
constexpr uint64_t kMaxDecoded = uint64_t{256} << 20;
constexpr tmsize_t kMaxBlock = tmsize_t{64} << 20;
constexpr uint32_t kMaxDirectories = 4096;
// The most libtiff may allocate at once, whatever the directories claim.
constexpr tmsize_t kMaxAllocation = tmsize_t{256} << 20;

struct Memory {
    const uint8_t* bytes;
    uint64_t size;
    uint64_t at = 0;
};

tmsize_t Read(thandle_t handle, void* buffer, tmsize_t count) {
    auto* m = static_cast<Memory*>(handle);
    const uint64_t n = m->at >= m->size ? 0 : std::min<uint64_t>(static_cast<uint64_t>(count), m->size - m->at);
    std::memcpy(buffer, m->bytes + m->at, n);
    m->at += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }
toff_t Seek(thandle_t handle, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(handle);
    const uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->size;
    m->at = base + offset;
    return m->at;
}
int Close(thandle_t) { return 0; }
toff_t Size(thandle_t handle) { return static_cast<Memory*>(handle)->size; }
// libtiff's messages are the checker's business, not the user's terminal's.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct Closer {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// Compressions decoded: their decoders catch damaged data.
bool Decodes(TIFF* tiff) {
    uint16_t compression = COMPRESSION_NONE, bits = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    switch (compression) {
        case COMPRESSION_NONE:
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
        case COMPRESSION_LZW:
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
        case COMPRESSION_PACKBITS:
            return TIFFIsCODECConfigured(compression) != 0;
        case COMPRESSION_JPEG:  // lossless JPEG (raw files) is not libjpeg's
            return bits == 8 && TIFFIsCODECConfigured(compression) != 0;
        default:
            return false;
    }
}

// Reads each strip or tile of the current directory; false on an error.
bool ReadBlocks(TIFF* tiff, std::vector<uint8_t>* buffer, uint64_t* decoded) {
    const bool tiled = TIFFIsTiled(tiff) != 0;
    const uint32_t count = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    const tmsize_t size = tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
    const bool decode = Decodes(tiff) && size > 0 && size <= kMaxBlock;
    for (uint32_t i = 0; i < count; ++i) {
        const bool decode_this = decode && *decoded < kMaxDecoded;
        const tmsize_t want =
            decode_this ? size
                        : static_cast<tmsize_t>(std::min<uint64_t>(TIFFGetStrileByteCount(tiff, i), kMaxBlock));
        if (want <= 0) continue;
        if (buffer->size() < static_cast<size_t>(want)) buffer->resize(static_cast<size_t>(want));
        tmsize_t got;
        if (decode_this) {
            got = tiled ? TIFFReadEncodedTile(tiff, i, buffer->data(), want)
                        : TIFFReadEncodedStrip(tiff, i, buffer->data(), want);
            *decoded += static_cast<uint64_t>(want);
        } else {
            got = tiled ? TIFFReadRawTile(tiff, i, buffer->data(), want)
                        : TIFFReadRawStrip(tiff, i, buffer->data(), want);
        }
        if (got < 0) return false;
    }
    return true;
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "", "no end found", "cannot open", "bad directory", "bad image data",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckTiff(CheckBytes bytes) {
    const uint64_t end = WalkEnd(bytes);
    if (end == 0) return CheckInvalid(kNoEnd);
    Memory memory{bytes.data, end};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return CheckUnknown(kCannotOpen);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    // "m": no mapping.
    std::unique_ptr<TIFF, Closer> tiff(
        TIFFClientOpenExt("item", "rm", &memory, Read, Write, Seek, Close, Size, nullptr, nullptr, options));
    TIFFOpenOptionsFree(options);
    if (!tiff) return CheckInvalid(kCannotOpen);
    std::vector<uint8_t> buffer;
    uint64_t decoded = 0;
    uint32_t directories = 0;
    do {
        if (++directories > kMaxDirectories) return CheckInvalid(kBadDirectory);
        if (!ReadBlocks(tiff.get(), &buffer, &decoded)) return CheckInvalid(kBadImageData);
    } while (TIFFReadDirectory(tiff.get()) == 1);
    // The chain ends with a zero offset, not with a directory that is damaged.
    if (!TIFFLastDirectory(tiff.get())) return CheckInvalid(kBadDirectory);
    return CheckValid(end);
}

extern const Checker kTiffChecker = {CheckTiff, kReasons, std::size(kReasons), nullptr};
