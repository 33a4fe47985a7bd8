// The check dispatch: the item's first bytes choose its checker.
#include "host/check/check.h"

#include <cstring>

namespace {

bool StartsWith(CheckBytes bytes, const char* magic, size_t length) {
    return bytes.size >= length && std::memcmp(bytes.data, magic, length) == 0;
}

}  // namespace

CheckResult CheckValid(const char* format, uint64_t end) {
    return {CheckState::kValid, end, format, ""};
}

CheckResult CheckInvalid(const char* format, const char* reason) {
    return {CheckState::kInvalid, 0, format, reason};
}

CheckResult CheckUnknown(const char* format, const char* reason) {
    return {CheckState::kUnchecked, 0, format, reason};
}

CheckResult CheckItem(CheckBytes bytes) {
    // Two bytes name a JPEG: a JPEG plug-in's item at an FF D8 that is not
    // followed by a marker is then invalid, as JpegMayStart assumes.
    if (StartsWith(bytes, "\xFF\xD8", 2)) return CheckJpeg(bytes);
    if (StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8)) return CheckPng(bytes);
    if (StartsWith(bytes, "GIF87a", 6) || StartsWith(bytes, "GIF89a", 6)) return CheckGif(bytes);
    if (StartsWith(bytes, "PK\x03\x04", 4)) return CheckZip(bytes);
    if (StartsWith(bytes, "BM", 2)) return CheckBmp(bytes);
    if (StartsWith(bytes, "RIFF", 4)) return CheckRiff(bytes);
    if (StartsWith(bytes, "%PDF-", 5)) return CheckPdf(bytes);
    if (StartsWith(bytes, "MSCF", 4)) return CheckCab(bytes);
    return CheckResult();
}
