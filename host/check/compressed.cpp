// Checkers of compressed streams (gzip, bzip2, XZ, Zstandard, LZ4): each is
// decompressed by its own library, the output thrown away, which checks the
// coded data and the CRC or checksum the stream stores. The item ends after
// the stream; a gzip member, bzip2 stream, Zstandard frame or LZ4 frame that
// directly follows belongs to it too, as the formats' tools read it so
// (`gzip -c a b`, parallel compressors). Output past kMaxOutput is not
// decompressed (a bomb costs no more) and leaves the item unchecked; the
// decoders' memory is bounded by the formats' window limits below.
#include <bzlib.h>
#include <lz4frame.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum CompressedReason : uint8_t {
    kNoReason,
    kCutShort,
    kBadData,
    kNoMemory,
    kTooLong,
    kReasonCount,
};

constexpr uint64_t kMaxOutput = uint64_t{1} << 30;
constexpr size_t kBufferSize = size_t{256} << 10;
// XZ presets up to -9e need 65 MiB; a stream that needs more is unchecked.
constexpr uint64_t kXzMemoryLimit = uint64_t{256} << 20;
// Zstandard windows up to 128 MiB (what the tool decodes without --long).
constexpr int kZstdWindowLog = 27;

// What one stream's decoding came to.
struct Decoded {
    CompressedReason reason;  // kNoReason: a whole stream, its check held
    uint64_t used;            // bytes of input it took
};

// Counts output against kMaxOutput.
struct Budget {
    uint64_t left = kMaxOutput;
    std::vector<uint8_t> out = std::vector<uint8_t>(kBufferSize);
    bool Spend(size_t produced) {
        if (produced > left) return false;
        left -= produced;
        return true;
    }
};

// Feeds at most 1 GiB at a time: the libraries count input in 32 bits.
unsigned Chunk(uint64_t left) { return static_cast<unsigned>(std::min<uint64_t>(left, uint64_t{1} << 30)); }

Decoded Gzip(CheckBytes bytes, Budget* budget) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return {kNoMemory, 0};
    uint64_t at = 0;
    CompressedReason reason = kCutShort;
    while (true) {
        if (z.avail_in == 0 && at < bytes.size) {
            z.next_in = const_cast<Bytef*>(bytes.data + at);
            z.avail_in = Chunk(bytes.size - at);
            at += z.avail_in;
        }
        z.next_out = budget->out.data();
        z.avail_out = static_cast<uInt>(budget->out.size());
        const int status = inflate(&z, Z_NO_FLUSH);
        if (!budget->Spend(budget->out.size() - z.avail_out)) {
            reason = kTooLong;
            break;
        }
        if (status == Z_STREAM_END) {
            reason = kNoReason;
            break;
        }
        if (status == Z_BUF_ERROR && z.avail_in == 0 && at == bytes.size) break;
        if (status != Z_OK && status != Z_BUF_ERROR) {
            reason = status == Z_MEM_ERROR ? kNoMemory : kBadData;
            break;
        }
    }
    const uint64_t used = at - z.avail_in;
    inflateEnd(&z);
    return {reason, used};
}

Decoded Bzip2(CheckBytes bytes, Budget* budget) {
    bz_stream bz{};
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return {kNoMemory, 0};
    uint64_t at = 0;
    CompressedReason reason = kCutShort;
    while (true) {
        if (bz.avail_in == 0 && at < bytes.size) {
            bz.next_in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data + at));
            bz.avail_in = Chunk(bytes.size - at);
            at += bz.avail_in;
        }
        bz.next_out = reinterpret_cast<char*>(budget->out.data());
        bz.avail_out = static_cast<unsigned>(budget->out.size());
        const int status = BZ2_bzDecompress(&bz);
        if (!budget->Spend(budget->out.size() - bz.avail_out)) {
            reason = kTooLong;
            break;
        }
        if (status == BZ_STREAM_END) {
            reason = kNoReason;
            break;
        }
        if (status != BZ_OK) {
            reason = status == BZ_MEM_ERROR ? kNoMemory : kBadData;
            break;
        }
        // No progress with all input given: the stream is cut short.
        if (bz.avail_in == 0 && at == bytes.size && bz.avail_out != 0) break;
    }
    const uint64_t used = at - bz.avail_in;
    BZ2_bzDecompressEnd(&bz);
    return {reason, used};
}

Decoded Xz(CheckBytes bytes, Budget* budget) {
    lzma_stream xz = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&xz, kXzMemoryLimit, 0) != LZMA_OK) return {kNoMemory, 0};
    uint64_t at = 0;
    CompressedReason reason = kCutShort;
    while (true) {
        if (xz.avail_in == 0 && at < bytes.size) {
            xz.next_in = bytes.data + at;
            xz.avail_in = Chunk(bytes.size - at);
            at += xz.avail_in;
        }
        xz.next_out = budget->out.data();
        xz.avail_out = budget->out.size();
        const lzma_ret status = lzma_code(&xz, at == bytes.size ? LZMA_FINISH : LZMA_RUN);
        if (!budget->Spend(budget->out.size() - xz.avail_out)) {
            reason = kTooLong;
            break;
        }
        if (status == LZMA_STREAM_END) {
            reason = kNoReason;
            break;
        }
        if (status != LZMA_OK) {
            reason = status == LZMA_MEM_ERROR || status == LZMA_MEMLIMIT_ERROR ? kTooLong
                     : status == LZMA_BUF_ERROR                               ? kCutShort
                                                                              : kBadData;
            break;
        }
    }
    const uint64_t used = at - xz.avail_in;
    lzma_end(&xz);
    return {reason, used};
}

Decoded Zstd(CheckBytes bytes, Budget* budget) {
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context || ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, kZstdWindowLog))) {
        return {kNoMemory, 0};
    }
    ZSTD_inBuffer in{bytes.data, static_cast<size_t>(bytes.size), 0};
    while (true) {
        ZSTD_outBuffer out{budget->out.data(), budget->out.size(), 0};
        const size_t status = ZSTD_decompressStream(context.get(), &out, &in);
        if (!budget->Spend(out.pos)) return {kTooLong, in.pos};
        if (ZSTD_isError(status)) {
            const ZSTD_ErrorCode code = ZSTD_getErrorCode(status);
            return {code == ZSTD_error_frameParameter_windowTooLarge ? kTooLong
                    : code == ZSTD_error_memory_allocation          ? kNoMemory
                                                                    : kBadData,
                    in.pos};
        }
        if (status == 0) return {kNoReason, in.pos};  // one frame, whole
        if (in.pos == in.size && out.pos < out.size) return {kCutShort, in.pos};
    }
}

Decoded Lz4(CheckBytes bytes, Budget* budget) {
    LZ4F_dctx* context = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&context, LZ4F_VERSION))) return {kNoMemory, 0};
    uint64_t at = 0;
    Decoded decoded{kCutShort, 0};
    while (true) {
        size_t out_size = budget->out.size(), in_size = static_cast<size_t>(std::min<uint64_t>(bytes.size - at, 1 << 20));
        const size_t status = LZ4F_decompress(context, budget->out.data(), &out_size, bytes.data + at, &in_size, nullptr);
        at += in_size;
        if (!budget->Spend(out_size)) {
            decoded.reason = kTooLong;
            break;
        }
        if (LZ4F_isError(status)) {
            decoded.reason = kBadData;
            break;
        }
        if (status == 0) {  // the frame's end, its checksums held
            decoded.reason = kNoReason;
            break;
        }
        if (at == bytes.size && out_size == 0) break;
    }
    decoded.used = at;
    LZ4F_freeDecompressionContext(context);
    return decoded;
}

using DecodeFn = Decoded (*)(CheckBytes bytes, Budget* budget);

// Decodes the stream at the item's start, then each one of the same magic
// that directly follows; valid to the end of the last.
CheckResult CheckStreams(CheckBytes bytes, DecodeFn decode, const char* magic, size_t magic_size) {
    Budget budget;
    uint64_t end = 0;
    do {
        const Decoded decoded = decode({bytes.data + end, bytes.size - end}, &budget);
        if (decoded.reason == kTooLong) return CheckUnknown(kTooLong);
        if (decoded.reason != kNoReason) {
            // A damaged or cut stream after whole ones ends the item before it.
            if (end > 0) break;
            return decoded.reason == kNoMemory ? CheckUnknown(kNoMemory) : CheckInvalid(decoded.reason);
        }
        end += decoded.used;
    } while (bytes.size - end >= magic_size && std::memcmp(bytes.data + end, magic, magic_size) == 0);
    return CheckValid(end);
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "cut short",
    "bad compressed data",
    "no memory",
    "too long to check",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckGzip(CheckBytes bytes) { return CheckStreams(bytes, Gzip, "\x1F\x8B\x08", 3); }
CheckResult CheckBzip2(CheckBytes bytes) { return CheckStreams(bytes, Bzip2, "BZh", 3); }
CheckResult CheckXz(CheckBytes bytes) { return CheckStreams(bytes, Xz, "\xFD" "7zXZ\0", 6); }
CheckResult CheckZstd(CheckBytes bytes) { return CheckStreams(bytes, Zstd, "\x28\xB5\x2F\xFD", 4); }
CheckResult CheckLz4(CheckBytes bytes) { return CheckStreams(bytes, Lz4, "\x04\x22\x4D\x18", 4); }

extern const Checker kGzipChecker = {CheckGzip, kReasons, std::size(kReasons), nullptr};
extern const Checker kBzip2Checker = {CheckBzip2, kReasons, std::size(kReasons), nullptr};
extern const Checker kXzChecker = {CheckXz, kReasons, std::size(kReasons), nullptr};
extern const Checker kZstdChecker = {CheckZstd, kReasons, std::size(kReasons), nullptr};
extern const Checker kLz4Checker = {CheckLz4, kReasons, std::size(kReasons), nullptr};
