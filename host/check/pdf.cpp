// PDF checker: the header, then the chain of trailers: each %%EOF must close
// a "startxref N" whose N points (within the item) at an "xref" table or an
// xref stream object. An incremental update or the main part of a
// linearized file continues with a new object after a %%EOF; the item ends
// after the last %%EOF so reached (and its line end).
#include <cctype>
#include <cstring>
#include <iterator>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum PdfReason : uint8_t {
    kNoReason,
    kBadHeader,
    kNoTrailer,
    kReasonCount,
};

// How far a %%EOF is looked for after the header or after the previous
// section: a false header in a large image must not cost a search through it.
constexpr uint64_t kMaxSection = uint64_t{1} << 30;
constexpr uint64_t kStartxrefWindow = 64;

bool IsSpace(uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }

// Skips digits from at; false when there are none.
bool Digits(CheckBytes bytes, uint64_t* at) {
    const uint64_t start = *at;
    while (*at < bytes.size && std::isdigit(bytes.data[*at])) ++*at;
    return *at > start;
}

void Spaces(CheckBytes bytes, uint64_t* at) {
    while (*at < bytes.size && IsSpace(bytes.data[*at])) ++*at;
}

// "N G obj" at at (after blanks).
bool ObjectAt(CheckBytes bytes, uint64_t at) {
    Spaces(bytes, &at);
    if (!Digits(bytes, &at)) return false;
    Spaces(bytes, &at);
    if (!Digits(bytes, &at)) return false;
    Spaces(bytes, &at);
    return bytes.size - at >= 3 && std::memcmp(bytes.data + at, "obj", 3) == 0;
}

bool XrefAt(CheckBytes bytes, uint64_t at) {
    return (bytes.size - at >= 4 && std::memcmp(bytes.data + at, "xref", 4) == 0) || ObjectAt(bytes, at);
}

// True when the %%EOF at eof closes "startxref N" with N a cross-reference.
bool ClosesTrailer(CheckBytes bytes, uint64_t eof) {
    const uint64_t from = eof > kStartxrefWindow ? eof - kStartxrefWindow : 0;
    const void* hit = memmem(bytes.data + from, eof - from, "startxref", 9);
    if (hit == nullptr) return false;
    uint64_t at = static_cast<const uint8_t*>(hit) - bytes.data + 9;
    Spaces(bytes, &at);
    uint64_t n = 0;
    const uint64_t digits = at;
    while (at < eof && std::isdigit(bytes.data[at]) && at - digits < 19) n = n * 10 + (bytes.data[at++] - '0');
    if (at == digits) return false;
    Spaces(bytes, &at);
    return at == eof && n < eof && XrefAt(bytes, n);
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "bad header",
    "no trailer",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckPdf(CheckBytes bytes) {
    if (bytes.size < 8 || std::memcmp(bytes.data, "%PDF-", 5) != 0 || !std::isdigit(bytes.data[5]) ||
        bytes.data[6] != '.' || !std::isdigit(bytes.data[7])) {
        return CheckInvalid(kBadHeader);
    }
    uint64_t end = 0;
    uint64_t at = 8;
    for (;;) {
        const uint64_t window = bytes.size - at < kMaxSection ? bytes.size - at : kMaxSection;
        const uint8_t* hit = FindForward(bytes.data + at, bytes.data + at + window, "%%EOF", 5,
                                         bytes.memo != nullptr ? &bytes.memo->pdf_eof : nullptr);
        if (hit == nullptr) break;
        const uint64_t eof = static_cast<uint64_t>(hit - bytes.data);
        at = eof + 5;
        if (!ClosesTrailer(bytes, eof)) continue;  // "%%EOF" inside a stream or comment
        if (at < bytes.size && bytes.data[at] == '\r') ++at;
        if (at < bytes.size && bytes.data[at] == '\n') ++at;
        end = at;
        // Another section follows only when an object or xref table does.
        uint64_t next = at;
        Spaces(bytes, &next);
        if (next >= bytes.size || !XrefAt(bytes, next)) break;
    }
    return end > 0 ? CheckValid(end) : CheckInvalid(kNoTrailer);
}

extern const Checker kPdfChecker = {CheckPdf, kReasons, std::size(kReasons), nullptr};
