// The table of formats and the check dispatch.
#include "host/check/formats.h"

#include <cstring>

// Each format's checker, reasons and pre-check live in host/check/<format>.cpp.
extern const Checker kJpegChecker, kPngChecker, kGifChecker, kZipChecker, kBmpChecker, kRiffChecker,
    kPdfChecker, kCabChecker, kW64Checker, kIsoMediaChecker, kGzipChecker, kBzip2Checker, kXzChecker,
    kZstdChecker, kLz4Checker, k7zChecker, kTarChecker, kCpioChecker, kIso9660Checker, kSqliteChecker,
    kTiffChecker;
extern const Checker kNetpbmChecker, kTgaChecker, kPsdChecker, kIcoChecker, kXcfChecker, kTextChecker;
extern const Checker kRarChecker, kArChecker, kOle2Checker, kPeChecker, kElfChecker;
extern const Checker kFlvChecker;
extern const Checker kFlacChecker, kMatroskaChecker, kOggChecker, kAsfChecker, kAiffChecker,
    kMpegTsChecker, kMpegAudioChecker;

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
        // Netpbm's "P1" to "P7", a TGA header's zeros and an icon's (which a
        // true-colour TGA shares with a cursor's) name nothing for sure: the
        // finders' extensions route them.
        {"netpbm", {}, &kNetpbmChecker, {"P6\n"sv, "P7\nWIDTH "sv, "HEIGHT "sv, "DEPTH "sv, "MAXVAL "sv,
         "TUPLTYPE RGB_ALPHA\n"sv, "ENDHDR\n"sv}, {"pbm"sv, "pgm"sv, "ppm"sv, "pnm"sv, "pam"sv}},
        {"tga", {}, &kTgaChecker, {"TRUEVISION-XFILE.\x00"sv, "\xEF\x01"sv}, {"tga"sv}},
        {"psd", {{0, "8BPS"sv}}, &kPsdChecker, {"8BIM"sv, "\x00\x01"sv}},
        {"ico", {}, &kIcoChecker, {"\x89PNG\r\n\x1A\n"sv, "\x28\x00\x00\x00"sv}, {"ico"sv, "cur"sv}},
        {"xcf", {{0, "gimp xcf "sv}}, &kXcfChecker,
         {"file\x00"sv, "v011\x00"sv, "\x00\x00\x00\x11\x00\x00\x00\x01"sv}},
        // Text kinds by their openings; JSON and mail, whose openings are a
        // bracket or a header name, by the finder's extension.
        {"text",
         {{0, "#!/"sv}, {0, "#! /"sv}, {0, "<?xml"sv}, {0, "<svg"sv}, {0, "\xEF\xBB\xBF<"sv}, {0, "<!DOCTYPE"sv},
          {0, "<!doctype"sv}, {0, "<html"sv}, {0, "<HTML"sv}, {0, "{\\rtf"sv}, {0, "%!PS"sv}},
         &kTextChecker,
         {"</html>"sv, "<!--"sv, "-->"sv, "<script>"sv, "</script>"sv, "<!ENTITY "sv, "encoding=\"ISO-8859-1\""sv,
          "charset=windows-1252"sv, "\\bin"sv, "\\'e9"sv, "%%EOF\n"sv, "%%BoundingBox: "sv, "EPSF"sv},
         {"json"sv, "eml"sv, "mbox"sv}},
        {"rar", {{0, "Rar!\x1A\x07\x00"sv}, {0, "Rar!\x1A\x07\x01\x00"sv}}, &kRarChecker,
         {"\x73\x00\x00\x0D\x00"sv, "\x00\x80"sv, "\xC4\x3D\x7B\x00\x40\x07\x00"sv}},
        // Unix ar archives; a first member debian-binary makes a Debian package.
        {"ar", {{0, "!<arch>\n"sv}}, &kArChecker,
         {"debian-binary   "sv, "control.tar.xz  "sv, "data.tar.xz     "sv, "`\n"sv, "2.0\n"sv}},
        {"ole2", {{0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv}}, &kOle2Checker,
         {"\x3E\x00\x03\x00\xFE\xFF\x09\x00"sv, "\xFE\xFF\xFF\xFF"sv, "\xFD\xFF\xFF\xFF"sv,
          "R\x00o\x00o\x00t\x00"sv}},
        // A DOS header's MZ; the checker follows e_lfanew to the PE header.
        {"pe", {{0, "MZ"sv}}, &kPeChecker, {"PE\x00\x00"sv, "\x0B\x01"sv, "\x0B\x02"sv, ".text\x00\x00\x00"sv}},
        {"elf", {{0, "\x7F" "ELF"sv}}, &kElfChecker, {".shstrtab"sv, ".symtab"sv, ".strtab"sv}},
        {"flac", {{0, "fLaC"sv}}, &kFlacChecker, {"\xFF\xF8"sv, "\xFF\xF9"sv, "\x00\x00\x00\x22"sv}},
        {"matroska", {{0, "\x1A\x45\xDF\xA3"sv}}, &kMatroskaChecker,
         {"\x42\x82\x88matroska"sv, "\x42\x82\x84webm"sv, "\x18\x53\x80\x67"sv, "\x15\x49\xA9\x66"sv,
          "\x16\x54\xAE\x6B"sv, "\x1F\x43\xB6\x75"sv, "\xA3"sv, "\x1C\x53\xBB\x6B"sv}},
        {"ogg", {{0, "OggS"sv}}, &kOggChecker,
         {"OggS\x00\x02"sv, "OggS\x00\x04"sv, "\x01vorbis"sv, "OpusHead"sv, "OpusTags"sv, "\x80theora"sv}},
        {"flv", {{0, "FLV\x01"sv}}, &kFlvChecker, {"\x00\x00\x00\x09\x00\x00\x00\x00"sv, "onMetaData"sv}},
        {"asf", {{0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv}}, &kAsfChecker,
         {"\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv,
          "\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65"sv,
          "\x36\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv}},
        // AIFF's FORM is IFF's, and its form type at 8 is no magic of its
        // own; transport streams and MPEG audio have none: the finders'
        // extensions route them.
        {"aiff", {}, &kAiffChecker, {"FORM"sv, "AIFF"sv, "AIFC"sv, "COMM"sv, "SSND"sv, "FVER"sv}, {"aiff"sv, "aifc"sv}},
        {"mpeg-ts", {}, &kMpegTsChecker, {"\x47\x40\x00\x10"sv, "\x47\x50\x00\x10"sv}, {"ts"sv, "m2ts"sv}},
        {"mpeg-audio", {}, &kMpegAudioChecker,
         {"ID3\x04\x00"sv, "\xFF\xFB\x90"sv, "\xFF\xF1"sv, "Xing"sv, "Info"sv, "TAG"sv},
         {"mp3"sv, "mp2"sv, "mp1"sv, "aac"sv}},
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
