// PNG checker: the chunk sequence is walked here (IHDR first, every CRC, up
// to IEND, whose CRC ends the item); libspng then reads and checks the
// header fields. The image data is not decoded: its chunks' CRCs already
// tell a real PNG from bytes that merely look like one, and inflating it
// cost more than the rest of the scan on a disk of PNG icons.
#include <cstring>
#include <iterator>
#include <memory>

#include <spng.h>
#include <zlib.h>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum PngReason : uint8_t {
    kNoReason,
    kNoMemory,
    kBadHeader,
    kCutShort,
    kBadChunkHeader,
    kIHDRNotFirst,
    kChunkCRC,
    kReasonCount,
};

constexpr uint32_t kMaxChunk = 0x7FFFFFFF;
// The largest sides libspng accepts in a header.
constexpr uint32_t kMaxSide = 0x7FFFFFFF;

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The length of the chunk sequence up to IEND's CRC, or 0 with *reason.
uint64_t WalkChunks(CheckBytes bytes, PngReason* reason) {
    uint64_t at = 8;
    bool first = true;
    for (;;) {
        if (bytes.size - at < 12) {
            *reason = kCutShort;
            return 0;
        }
        const uint8_t* chunk = bytes.data + at;
        const uint32_t length = Be32(chunk);
        if (length > kMaxChunk || !IsLetter(chunk[4]) || !IsLetter(chunk[5]) ||
            !IsLetter(chunk[6]) || !IsLetter(chunk[7])) {
            *reason = kBadChunkHeader;
            return 0;
        }
        if (first && (std::memcmp(chunk + 4, "IHDR", 4) != 0 || length != 13)) {
            *reason = kIHDRNotFirst;
            return 0;
        }
        first = false;
        if (bytes.size - at - 12 < length) {
            *reason = kCutShort;
            return 0;
        }
        const uint32_t crc = static_cast<uint32_t>(crc32(0, chunk + 4, length + 4));
        if (crc != Be32(chunk + 8 + length)) {
            *reason = kChunkCRC;
            return 0;
        }
        at += 12 + uint64_t{length};
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) return at;
    }
}

struct CtxFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "no memory",
    "bad header",
    "cut short",
    "bad chunk header",
    "IHDR not first",
    "chunk CRC",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckPng(CheckBytes bytes) {
    PngReason reason = kNoReason;
    const uint64_t end = WalkChunks(bytes, &reason);
    if (end == 0) return CheckInvalid(reason);

    std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
    if (ctx == nullptr) return CheckUnknown(kNoMemory);
    spng_set_image_limits(ctx.get(), kMaxSide, kMaxSide);
    spng_set_chunk_limits(ctx.get(), kMaxChunk, 64u << 20);
    spng_set_png_buffer(ctx.get(), bytes.data, end);
    spng_ihdr ihdr;
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return CheckInvalid(kBadHeader);
    return CheckValid(end);
}

extern const Checker kPngChecker = {CheckPng, kReasons, std::size(kReasons), nullptr};
