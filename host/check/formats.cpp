// The table of formats and the check dispatch.
#include "host/check/formats.h"

#include <cstring>

// Each format's checker, reasons and pre-check live in host/check/<format>.cpp.
extern const Checker kJpegChecker, kPngChecker, kGifChecker, kZipChecker, kBmpChecker, kRiffChecker,
    kPdfChecker, kCabChecker, kW64Checker, kIsoMediaChecker, kGzipChecker, kBzip2Checker, kXzChecker,
    kZstdChecker, kLz4Checker, k7zChecker, kTarChecker, kCpioChecker, kIso9660Checker, kSqliteChecker,
    kTiffChecker;
// (picture and text checkers: declarations)
// (program and archive checkers: declarations)

namespace {

using namespace std::string_view_literals;

std::vector<Format> MakeFormats() {
    return {
        // Two bytes name a JPEG: a JPEG plug-in's item at an FF D8 that is
        // not followed by a marker is then invalid, as its pre-check assumes.
        {"jpeg", {{0, "\xFF\xD8"sv}}, &kJpegChecker,
         {"\xff\xd9"sv, "\xff\xc0"sv, "\xff\xc2"sv, "\xff\xc4"sv, "\xff\xdb"sv, "\xff\xda"sv, "\xff\xdd"sv,
          "\xff\xd0"sv}},
        {"png", {{0, "\x89PNG\r\n\x1A\n"sv}}, &kPngChecker,
         {"\x00\x00\x00\x0dIHDR"sv, "IDAT"sv, "\x00\x00\x00\x00IEND\xae\x42\x60\x82"sv}},
        {"gif", {{0, "GIF87a"sv}, {0, "GIF89a"sv}}, &kGifChecker,
         {","sv, "!\xf9\x04"sv, ";"sv}},
        {"zip", {{0, "PK\x03\x04"sv}}, &kZipChecker,
         {"PK\x01\x02"sv, "PK\x05\x06"sv}},
        {"bmp", {{0, "BM"sv}}, &kBmpChecker},
        {"riff", {{0, "RIFF"sv}}, &kRiffChecker,
         {"WAVE"sv, "fmt \x10\x00\x00\x00"sv, "data"sv, "VP8 "sv, "AVI LIST"sv, "AVIXLIST"sv, "hdrl"sv,
          "avih\x38\x00\x00\x00"sv, "strl"sv, "strh"sv, "strf"sv, "movi"sv, "idx1"sv, "00dc"sv, "01wb"sv}},
        {"pdf", {{0, "%PDF-"sv}}, &kPdfChecker,
         {"startxref\x0a"sv, "%%EOF\x0a"sv, "xref\x0a"sv, "1 0 obj"sv}},
        {"cab", {{0, "MSCF"sv}}, &kCabChecker, {"\x03\x01"sv}},
        {"w64", {{0, "riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\x00\x00"sv}}, &kW64Checker,
         {"wave\xF3\xAC\xD3\x11\x8C\xD1\x00\xC0\x4F\x8E\xDB\x8A"sv, "fmt \xF3\xAC\xD3\x11"sv,
          "data\xF3\xAC\xD3\x11"sv}},
        // A box type at 4: the first box of MP4, MOV, 3GP and HEIF files.
        {"isobmff",
         {{4, "ftyp"sv}, {4, "moov"sv}, {4, "mdat"sv}, {4, "wide"sv}, {4, "free"sv}, {4, "skip"sv}},
         &kIsoMediaChecker,
         {"moov"sv, "mvhd"sv, "trak"sv, "tkhd"sv, "mdia"sv, "mdhd"sv, "hdlr"sv, "minf"sv, "stbl"sv, "stsd"sv,
          "stts"sv, "stsc"sv, "stsz"sv, "stco"sv, "co64"sv, "mdat"sv, "meta"sv, "moof"sv, "traf"sv, "trun"sv,
          "\x00\x00\x00\x01mdat"sv}},
        {"gzip", {{0, "\x1F\x8B\x08"sv}}, &kGzipChecker},
        {"bzip2", {{0, "BZh"sv}}, &kBzip2Checker, {"\x31\x41\x59\x26\x53\x59"sv, "\x17\x72\x45\x38\x50\x90"sv}},
        {"xz", {{0, "\xFD" "7zXZ\x00"sv}}, &kXzChecker, {"YZ"sv}},
        {"zstd", {{0, "\x28\xB5\x2F\xFD"sv}}, &kZstdChecker},
        {"lz4", {{0, "\x04\x22\x4D\x18"sv}}, &kLz4Checker},
        {"7z", {{0, "7z\xBC\xAF\x27\x1C"sv}}, &k7zChecker},
        {"tar", {{257, "ustar"sv}}, &kTarChecker},
        // newc, crc and odc headers.
        {"cpio", {{0, "070701"sv}, {0, "070702"sv}, {0, "070707"sv}}, &kCpioChecker, {"TRAILER!!!"sv}},
        {"iso9660", {{32769, "CD001"sv}}, &kIso9660Checker},
        {"sqlite", {{0, "SQLite format 3\x00"sv}}, &kSqliteChecker},
        // TIFF and BigTIFF headers (and the raw files that keep them); ORF and
        // RW2 change the magic, which libtiff does not open.
        {"tiff", {{0, "II*\x00"sv}, {0, "MM\x00*"sv}, {0, "II+\x00"sv}, {0, "MM\x00+"sv}}, &kTiffChecker},
        // (picture and text checkers: rows)
        // (program and archive checkers: rows)
    };
}

}  // namespace

const std::vector<Format>& Formats() {
    static const std::vector<Format> formats = MakeFormats();
    return formats;
}

uint8_t FindFormat(std::string_view name) {
    const std::vector<Format>& formats = Formats();
    for (size_t i = 0; i < formats.size(); ++i) {
        if (name == formats[i].name) return static_cast<uint8_t>(i);
    }
    return kNoFormat;
}

bool HasMagic(const Format& format, CheckBytes bytes) {
    for (const Magic& magic : format.magics) {
        if (bytes.size >= magic.offset + magic.bytes.size() &&
            std::memcmp(bytes.data + magic.offset, magic.bytes.data(), magic.bytes.size()) == 0) {
            return true;
        }
    }
    return false;
}

const uint8_t* FindForward(const uint8_t* begin, const uint8_t* limit, const char* word, size_t length,
                           SearchMemo* memo) {
    auto search = [&](const uint8_t* from, const uint8_t* to) -> const uint8_t* {
        if (to - from < static_cast<ptrdiff_t>(length)) return nullptr;
        return static_cast<const uint8_t*>(memmem(from, static_cast<size_t>(to - from), word, length));
    };
    if (memo == nullptr) return search(begin, limit);
    // The remembered search answers this one when it started no later and
    // this one starts before what it found: then that is this one's first
    // occurrence too, or, where it found none, when it looked as far.
    const bool none = memo->found == memo->limit;
    const bool covered = memo->from != nullptr && memo->from <= begin && begin <= memo->found &&
                         (!none || limit <= memo->limit);
    if (!covered) {
        const uint8_t* hit = search(begin, limit);
        *memo = {begin, hit != nullptr ? hit : limit, limit};
    }
    if (memo->found == memo->limit) return nullptr;
    return memo->found + length <= limit ? memo->found : nullptr;
}

namespace {

CheckResult CheckAs(size_t format, CheckBytes bytes) {
    CheckResult result = Formats()[format].checker->check(bytes);
    result.format = static_cast<uint8_t>(format);
    return result;
}

}  // namespace

CheckResult CheckItem(CheckBytes bytes) {
    const std::vector<Format>& formats = Formats();
    for (size_t i = 0; i < formats.size(); ++i) {
        if (HasMagic(formats[i], bytes)) return CheckAs(i, bytes);
    }
    if (bytes.extension == nullptr || *bytes.extension == '\0') return CheckResult();
    for (size_t i = 0; i < formats.size(); ++i) {
        for (std::string_view extension : formats[i].extensions) {
            if (extension == bytes.extension) return CheckAs(i, bytes);
        }
    }
    return CheckResult();
}

bool FormatMayStart(uint8_t format, CheckBytes bytes) {
    if (format >= Formats().size()) return true;
    const Format& row = Formats()[format];
    return row.checker->may_start == nullptr || !HasMagic(row, bytes) || row.checker->may_start(bytes);
}

const char* FormatName(uint8_t format) { return format < Formats().size() ? Formats()[format].name : ""; }

const char* ReasonText(uint8_t format, uint8_t reason) {
    if (format >= Formats().size()) return "";
    const Checker& checker = *Formats()[format].checker;
    return reason < checker.reason_count ? checker.reasons[reason] : "";
}
