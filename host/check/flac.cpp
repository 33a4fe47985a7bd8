// FLAC checker: formathound's walk gives the item's end (behind the frame
// that completes STREAMINFO's total samples); libFLAC then decodes every
// frame of those bytes from memory with MD5 checking. A lost sync, a bad
// header, a frame or metadata CRC error, a decoded sample count short of
// STREAMINFO's total, a last frame that ends elsewhere than the walk, or an
// MD5 sum other than STREAMINFO's (where it is not all zeros) is invalid.
#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "host/check/check.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum FlacReason : uint8_t {
    kNoReason,
    kNoWalk,
    kCannotOpen,
    kBadFrame,
    kFrameCrc,
    kBadMetadata,
    kSamplesMissing,
    kEndDisagrees,
    kBadMd5,
    kDecodeLimit,
    kNoMemory,
    kReasonCount,
};

// Decoding time grows with the audio: past 1 GiB of it (some hours of CD
// sound, less at high rates and many channels) the item is unchecked.
constexpr uint64_t kMaxDecodedBytes = uint64_t{1} << 30;

struct Stream {
    const uint8_t* data;
    uint64_t size;
    uint64_t at = 0;
    uint64_t decoded = 0;           // bytes of PCM
    uint64_t samples = 0;           // per channel
    uint64_t frame_end = 0;         // behind the last frame decoded
    FlacReason fault = kNoReason;   // the first error the decoder reported
    bool limited = false;
};

Stream* Of(void* data) { return static_cast<Stream*>(data); }

FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data) {
    Stream* s = Of(data);
    // After an error the verdict stands: reading on would only resync.
    if (s->fault != kNoReason) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(*bytes, s->size - s->at));
    std::memcpy(buffer, s->data + s->at, n);
    s->at += n;
    *bytes = n;
    return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus Seek(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
    Stream* s = Of(data);
    if (offset > s->size) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    s->at = offset;
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus Tell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
    *offset = Of(data)->at;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus Length(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
    *length = Of(data)->size;
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool Eof(const FLAC__StreamDecoder*, void* data) { return Of(data)->at >= Of(data)->size; }

FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder* decoder, const FLAC__Frame* frame,
                                     const FLAC__int32* const[], void* data) {
    Stream* s = Of(data);
    const FLAC__FrameHeader& h = frame->header;
    s->samples += h.blocksize;
    s->decoded += uint64_t{h.blocksize} * h.channels * ((h.bits_per_sample + 7) / 8);
    FLAC__uint64 position = 0;
    if (FLAC__stream_decoder_get_decode_position(decoder, &position)) s->frame_end = position;
    if (s->decoded > kMaxDecodedBytes) {
        s->limited = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}

void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data) {
    Stream* s = Of(data);
    if (s->fault != kNoReason) return;
    switch (status) {
        case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH: s->fault = kFrameCrc; break;
        case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_METADATA: s->fault = kBadMetadata; break;
        default: s->fault = kBadFrame; break;  // lost sync, bad header, unparseable
    }
}

struct DecoderDelete {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

}  // namespace

// The texts of the reasons, by code.
static const char* const kFlacReasons[] = {
    "",
    "formathound's walk finds no item",
    "libFLAC cannot open it",
    "lost sync or bad frame header",
    "frame CRC error",
    "bad metadata block",
    "fewer samples than STREAMINFO counts",
    "last frame ends elsewhere than the walk",
    "MD5 differs from STREAMINFO's",
    "decode limit",
    "no memory",
};
static_assert(std::size(kFlacReasons) == kReasonCount, "one text per reason");

CheckResult CheckFlac(CheckBytes bytes) {
    const uint64_t end = WalkEnd(bytes);
    if (end == 0 || end > bytes.size) return CheckInvalid(kNoWalk);
    std::unique_ptr<FLAC__StreamDecoder, DecoderDelete> decoder(FLAC__stream_decoder_new());
    if (decoder == nullptr) return CheckUnknown(kNoMemory);
    FLAC__stream_decoder_set_md5_checking(decoder.get(), true);
    Stream s = {bytes.data, end};
    if (FLAC__stream_decoder_init_stream(decoder.get(), Read, Seek, Tell, Length, Eof, Write, Metadata, Error, &s) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return CheckUnknown(kNoMemory);
    const bool processed = FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
    const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder.get());
    const uint64_t total = FLAC__stream_decoder_get_total_samples(decoder.get());
    // finish() compares the MD5 sums; false also where decoding stopped early.
    const bool md5_holds = FLAC__stream_decoder_finish(decoder.get());
    if (s.limited) return CheckUnknown(kDecodeLimit);
    if (state == FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR) return CheckUnknown(kNoMemory);
    if (s.fault != kNoReason) return CheckInvalid(s.fault);
    if (!processed || state != FLAC__STREAM_DECODER_END_OF_STREAM) return CheckInvalid(kCannotOpen);
    if (total != 0 && s.samples != total) return CheckInvalid(kSamplesMissing);
    if (s.frame_end != end) return CheckInvalid(kEndDisagrees);
    if (!md5_holds) return CheckInvalid(kBadMd5);
    return CheckValid(end);
}

extern const Checker kFlacChecker = {CheckFlac, kFlacReasons, std::size(kFlacReasons), nullptr};
