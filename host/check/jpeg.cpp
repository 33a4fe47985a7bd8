// JPEG checker: libjpeg decodes the headers and every scan's entropy-coded
// data (at 1/8 scale, which skips most of the inverse DCT work); the item
// ends where the decoder stopped after EOI.
//
// libjpeg recovers from corrupt data with a warning (a bad Huffman code, a
// premature marker or end of data, garbage between markers) and goes on
// with made-up data; random bytes after an FF D8 FF header "decode" that way.
// So a corrupt-data warning makes the item invalid. Warnings about metadata
// alone (an unknown JFIF revision or Adobe transform, a bad ICC marker) do
// not touch the image data and are let pass.
#include <csetjmp>
#include <cstdio>
#include <iterator>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "host/check/check.h"
#include "host/check/jpeg_memory.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum JpegReason : uint8_t {
    kNoReason,
    kMemoryLimit,
    kProcessNotDecodedHere,
    kDecoderError,
    kScanLimit,
    kCutShort,
    kCorruptData,
    kPixelLimit,
    kReasonCount,
};

// Limits that a real photograph stays within; beyond them the decoder is not
// run (unchecked), so that no header can claim unbounded work.
// The decoder's memory comes from the budget shared with the other threads'
// decoders (host/base/decoder_memory.h): a picture that needs more than all
// of it is not decoded.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;
constexpr int kMaxScans = 1000;

struct JpegCheck {
    jpeg_error_mgr error;  // first: libjpeg hands the callbacks this address
    jpeg_progress_mgr progress;
    std::jmp_buf exit;
    JpegReason reason;
    bool limit;  // a limit of the decoder, not the data, ended the check
};

JpegCheck& CheckOf(j_common_ptr info) { return *reinterpret_cast<JpegCheck*>(info->err); }

[[noreturn]] void Fail(j_common_ptr info, JpegReason reason, bool limit) {
    JpegCheck& check = CheckOf(info);
    check.reason = reason;
    check.limit = limit;
    std::longjmp(check.exit, 1);
}

void OnError(j_common_ptr info) {
    const jpeg_error_mgr& error = *info->err;
    const int code = error.msg_code;
    if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY) Fail(info, kMemoryLimit, true);
    // Processes that this libjpeg does not decode (lossless, hierarchical,
    // arithmetic when left out, 12-bit samples) say nothing about the data.
    if (code == JERR_SOF_UNSUPPORTED || code == JERR_ARITH_NOTIMPL ||
        (code == JERR_BAD_PRECISION && error.msg_parm.i[0] == 12)) {
        Fail(info, kProcessNotDecodedHere, true);
    }
    Fail(info, kDecoderError, false);
}

void OnMessage(j_common_ptr info, int level) {
    if (level >= 0) return;  // trace messages
    const int code = info->err->msg_code;
    if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC) return;
    Fail(info, code == JWRN_JPEG_EOF ? kCutShort : kCorruptData, false);
}

void OnProgress(j_common_ptr info) {
    if (info->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) {
        Fail(info, kScanLimit, true);
    }
}

// The decoding after jpeg_read_header; header_only stops there. The memory
// that the picture needs is reserved in *memory first.
void Decode(jpeg_decompress_struct* info, bool header_only, DecoderMemoryHold* memory) {
    jpeg_read_header(info, TRUE);
    if (header_only) return;
    if (uint64_t{info->image_width} * info->image_height > kMaxPixels) {
        Fail(reinterpret_cast<j_common_ptr>(info), kPixelLimit, true);
    }
    if (!ReserveJpegMemory(info, memory)) Fail(reinterpret_cast<j_common_ptr>(info), kMemoryLimit, true);
    info->scale_num = 1;
    info->scale_denom = 8;
    info->dct_method = JDCT_IFAST;
    info->do_fancy_upsampling = FALSE;
    info->do_block_smoothing = FALSE;
    info->out_color_space = info->num_components == 1 ? JCS_GRAYSCALE : info->jpeg_color_space;
    jpeg_start_decompress(info);
    const JDIMENSION row_size = info->output_width * info->output_components;
    JSAMPARRAY row = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, row_size, 1);
    while (info->output_scanline < info->output_height) jpeg_read_scanlines(info, row, 1);
    jpeg_finish_decompress(info);
}

CheckResult Run(CheckBytes bytes, bool header_only) {
    JpegCheck check{};
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&check.error);
    check.error.error_exit = OnError;
    check.error.emit_message = OnMessage;
    check.progress.progress_monitor = OnProgress;
    CheckResult result;
    DecoderMemoryHold memory;  // before the jump target: a jump skips no destructor
    if (setjmp(check.exit) == 0) {
        jpeg_create_decompress(&info);
        info.mem->max_memory_to_use = static_cast<long>(kJpegRowMemory);
        info.progress = &check.progress;
        jpeg_mem_src(&info, bytes.data, static_cast<unsigned long>(bytes.size));
        Decode(&info, header_only, &memory);
        result = CheckValid(bytes.size - info.src->bytes_in_buffer);
    } else {
        result = check.limit ? CheckUnknown(check.reason) : CheckInvalid(check.reason);
    }
    jpeg_destroy_decompress(&info);
    return result;
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "memory limit",
    "process not decoded here",
    "decoder error",
    "scan limit",
    "cut short",
    "corrupt data",
    "pixel limit",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckJpeg(CheckBytes bytes) { return Run(bytes, false); }

bool JpegMayStart(CheckBytes bytes) {
    if (bytes.size < 3 || bytes.data[0] != 0xFF || bytes.data[1] != 0xD8 || bytes.data[2] != 0xFF) {
        return false;
    }
    return Run(bytes, true).state != CheckState::kInvalid;
}

extern const Checker kJpegChecker = {CheckJpeg, kReasons, std::size(kReasons), JpegMayStart};
