// formathound's table of magics: the bytes that must stand at a position for
// one of its walks to start there. Header-only and plain data, so that the
// host builds its candidate gates from the same rows that Detect tests.
#pragma once
#include <cstddef>
#include <cstdint>

namespace formathound {

// The walks, one per format family (formathound/<family>.cpp).
enum class WalkId : uint8_t {
    kIsoMedia,  // ISO base media: MP4, MOV, 3GP, HEIF, AVIF, CR3
    kOgg,       // Ogg: Vorbis, Opus, Theora, Speex, FLAC
    kMatroska,  // Matroska, WebM
    kFlac,      // FLAC
    kAvi,       // RIFF AVI with its AVIX continuation chunks
    kAiff,      // AIFF, AIFC
    kMidi,      // Standard MIDI files
    kFlv,       // Flash video
    kAsf,       // ASF: WMV, WMA
    kMpegPs,    // MPEG program streams: mpg, vob
    kMpegTs,    // MPEG transport streams: ts, m2ts
    kMpegAudio, // MPEG audio (MP1, MP2, MP3) and ADTS AAC
    kOle2,      // OLE2 compound files: doc, xls, ppt, msg, msi
    kSqlite,    // SQLite 3 databases
    kPe,        // Windows PE: exe, dll, sys
    kElf,       // ELF programs and libraries
    kMachO,     // Mach-O programs and libraries
    kSevenZip,  // 7z archives
    kRar,       // RAR 4 and RAR 5 archives
    kXz,        // XZ streams
    kZstd,      // Zstandard frames
    kLz4,       // LZ4 frames
    kGzip,      // GZIP members
    kBzip2,     // BZIP2 streams
    kTar,       // TAR archives: ustar, GNU
    kCpio,      // CPIO archives: newc, odc
    kAr,        // Unix ar archives, Debian packages
    kIso9660,   // ISO 9660 and UDF images
    kTiff,      // TIFF, BigTIFF and TIFF-based camera raw
    kPsd,       // Photoshop PSD, PSB
    kIco,       // Windows icons and cursors
    kNetpbm,    // Netpbm P1-P7
    kTga,       // Truevision TGA
    kXcf,       // GIMP XCF
    kText,      // Text: scripts, XML, HTML, JSON, RTF, PostScript, mail
    kCount,
};

// The byte at position + offset must equal value; or, for a masked test,
// the byte's mask bits must equal value (differs: must not equal it).
struct MagicTest {
    uint16_t offset;
    uint8_t value;
    uint8_t mask = 0xFF;
    bool differs = false;
    constexpr bool Holds(uint8_t byte) const { return ((byte & mask) == value) != differs; }
};

// A walk may start where all tests of one of its magics hold. The first test
// is a plain one: the host searches for it.
struct Magic {
    static constexpr uint32_t kMaxTests = 4;
    WalkId walk;
    uint8_t count;
    MagicTest tests[kMaxTests];
};

// A magic of up to four consecutive bytes at offset (text without its NUL).
template <size_t N>
constexpr Magic Text(WalkId walk, uint16_t offset, const char (&text)[N]) {
    static_assert(N >= 2 && N - 1 <= Magic::kMaxTests, "one to four bytes");
    Magic magic{walk, static_cast<uint8_t>(N - 1), {}};
    for (size_t i = 0; i + 1 < N; ++i) {
        magic.tests[i] = {static_cast<uint16_t>(offset + i), static_cast<uint8_t>(text[i])};
    }
    return magic;
}

// An MPEG audio or ADTS frame sync whose second byte is second, and a
// sampling rate index that is not reserved in the third: 3 in bits 2-3 for
// MPEG audio, 15 in bits 2-5 for ADTS (layer 0). A run of FF bytes passes
// neither, so erased flash wakes no walk.
constexpr Magic Sync(uint8_t second) {
    const uint8_t sampling = (second & 0x06) == 0 ? 0x3C : 0x0C;
    return {WalkId::kMpegAudio, 3, {{0, 0xFF}, {1, second}, {2, sampling, sampling, true}}};
}

// A transport stream packet at prefix whose payload begins a section on the
// PID pid (below 0x100), and the next packet's sync byte.
constexpr Magic TsStart(uint16_t prefix, uint8_t pid) {
    return {WalkId::kMpegTs, 4, {{prefix, 0x47}, {static_cast<uint16_t>(prefix + 1), 0x40},
                                 {static_cast<uint16_t>(prefix + 2), pid},
                                 {static_cast<uint16_t>(2 * prefix + 188), 0x47}}};
}

// Rows in the order Detect tries them; the first walk that accepts answers.
inline constexpr Magic kMagics[] = {
    // A box type at offset 4: with ftyp, or the top-level boxes that old
    // QuickTime files and some cameras begin with.
    Text(WalkId::kIsoMedia, 4, "ftyp"),
    Text(WalkId::kIsoMedia, 4, "moov"),
    Text(WalkId::kIsoMedia, 4, "mdat"),
    Text(WalkId::kIsoMedia, 4, "wide"),
    Text(WalkId::kIsoMedia, 4, "free"),
    Text(WalkId::kIsoMedia, 4, "skip"),
    // An Ogg page of version 0 that begins a stream: "gS" of "OggS", the
    // version and the flags, four bytes in a row (the search looks for
    // such a literal fastest); the walk checks "Og".
    {WalkId::kOgg, 4, {{2, 'g'}, {3, 'S'}, {4, 0}, {5, 0x02}}},
    // The EBML header's ID.
    Text(WalkId::kMatroska, 0, "\x1A\x45\xDF\xA3"),
    Text(WalkId::kFlac, 0, "fLaC"),
    // The form type of a RIFF AVI, an IFF AIFF or AIFC; the walks check
    // "RIFF" and "FORM".
    Text(WalkId::kAvi, 8, "AVI "),
    Text(WalkId::kAiff, 8, "AIFF"), Text(WalkId::kAiff, 8, "AIFC"),
    Text(WalkId::kMidi, 0, "MThd"),
    Text(WalkId::kFlv, 0, "FLV\x01"),
    // The first bytes of the ASF header object's GUID.
    Text(WalkId::kAsf, 0, "\x30\x26\xB2\x75"),
    // A pack start code.
    Text(WalkId::kMpegPs, 0, "\x00\x00\x01\xBA"),
    // A packet that begins a table section on one of the PIDs that muxers
    // write first (PAT, CAT, NIT, SDT, EIT, TDT, SIT), and the next packet's
    // sync byte; m2ts puts a 4-byte time stamp before each packet. (A sync
    // byte alone passes at one position in 256: searching for it cost more
    // than all other gates together.)
    TsStart(0, 0x00), TsStart(0, 0x01), TsStart(0, 0x10), TsStart(0, 0x11), TsStart(0, 0x12),
    TsStart(0, 0x14), TsStart(0, 0x1F),
    TsStart(4, 0x00), TsStart(4, 0x01), TsStart(4, 0x10), TsStart(4, 0x11), TsStart(4, 0x12),
    TsStart(4, 0x14), TsStart(4, 0x1F),
    // The first half of the OLE2 compound file signature; the walk checks
    // the rest.
    Text(WalkId::kOle2, 0, "\xD0\xCF\x11\xE0"),
    // "SQLite format 3\0": its last four bytes, whose NUL no text mention
    // of the name has; the walk checks the rest.
    Text(WalkId::kSqlite, 12, "t 3\0"),
    // "MZ" and the DOS header's last-page bytes and page count, as the usual
    // stubs have them: MS link, GNU ld and Go (90 00 03 00), Borland (50 00
    // 02 00), LLVM lld (80 00 01 00; 78 00 01 00 in older versions). Images
    // with other stubs (some packers, hand-made tiny images) are not found.
    {WalkId::kPe, 4, {{0, 'M'}, {1, 'Z'}, {2, 0x90}, {4, 0x03}}},
    {WalkId::kPe, 4, {{0, 'M'}, {1, 'Z'}, {2, 'P'}, {4, 0x02}}},
    {WalkId::kPe, 4, {{0, 'M'}, {1, 'Z'}, {2, 0x80}, {4, 0x01}}},
    {WalkId::kPe, 4, {{0, 'M'}, {1, 'Z'}, {2, 0x78}, {4, 0x01}}},
    // The ELF identification; the walk checks class and byte order.
    Text(WalkId::kElf, 0, "\x7F" "ELF"),
    // Thin Mach-O, 32 and 64 bits, in either byte order.
    Text(WalkId::kMachO, 0, "\xFE\xED\xFA\xCE"),
    Text(WalkId::kMachO, 0, "\xCE\xFA\xED\xFE"),
    Text(WalkId::kMachO, 0, "\xFE\xED\xFA\xCF"),
    Text(WalkId::kMachO, 0, "\xCF\xFA\xED\xFE"),
    // 7z: the first four bytes of the signature.
    Text(WalkId::kSevenZip, 0, "7z\xBC\xAF"),
    // RAR 4 and RAR 5 share the signature's first four bytes.
    Text(WalkId::kRar, 0, "Rar!"),
    // XZ: the stream header's magic.
    Text(WalkId::kXz, 0, "\xFD" "7zX"),
    // Zstandard: a frame's magic, or the skippable frame that pzstd puts
    // before each frame.
    Text(WalkId::kZstd, 0, "\x28\xB5\x2F\xFD"),
    Text(WalkId::kZstd, 0, "\x50\x2A\x4D\x18"),
    // LZ4: the frame magic.
    Text(WalkId::kLz4, 0, "\x04\x22\x4D\x18"),
    // A gzip member: 1F 8B, method 8 (deflate) and each flag byte without
    // reserved bits.
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x00"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x01"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x02"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x03"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x04"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x05"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x06"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x07"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x08"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x09"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x0A"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x0B"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x0C"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x0D"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x0E"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x0F"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x10"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x11"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x12"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x13"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x14"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x15"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x16"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x17"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x18"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x19"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x1A"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x1B"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x1C"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x1D"),
    Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x1E"), Text(WalkId::kGzip, 0, "\x1F\x8B\x08\x1F"),
    // A bzip2 stream: "BZh" and its block size level.
    Text(WalkId::kBzip2, 0, "BZh1"), Text(WalkId::kBzip2, 0, "BZh2"), Text(WalkId::kBzip2, 0, "BZh3"),
    Text(WalkId::kBzip2, 0, "BZh4"), Text(WalkId::kBzip2, 0, "BZh5"), Text(WalkId::kBzip2, 0, "BZh6"),
    Text(WalkId::kBzip2, 0, "BZh7"), Text(WalkId::kBzip2, 0, "BZh8"), Text(WalkId::kBzip2, 0, "BZh9"),
    // The ustar magic at 257, "ustar\0" (POSIX) or "ustar  \0" (GNU): its
    // first four letters, in a row, so that the search has a literal of
    // four bytes to look for; the walk checks the rest.
    Text(WalkId::kTar, 257, "usta"),
    // "0707" of "070701" newc, "070702" crc and "070707" odc; the walk
    // checks the form.
    Text(WalkId::kCpio, 0, "0707"),
    // "!<arch>\n", of archives and Debian packages.
    Text(WalkId::kAr, 0, "!<ar"),
    // "CD001" of the first volume descriptor, 32 KiB into the image.
    Text(WalkId::kIso9660, 32769, "CD00"),
    // TIFF and BigTIFF in both byte orders; the raws that change the magic:
    // ORF ("RO", "RS"), RW2 (0x55).
    Text(WalkId::kTiff, 0, "II*\0"), Text(WalkId::kTiff, 0, "MM\0*"),
    Text(WalkId::kTiff, 0, "II+\0"), Text(WalkId::kTiff, 0, "MM\0+"),
    Text(WalkId::kTiff, 0, "IIRO"), Text(WalkId::kTiff, 0, "IIRS"),
    Text(WalkId::kTiff, 0, "MMOR"), Text(WalkId::kTiff, 0, "IIU\0"),
    // Photoshop's signature; the version (PSD or PSB) follows.
    Text(WalkId::kPsd, 0, "8BPS"),
    // An icon's or a cursor's reserved zero and type, 16 bits each: weak
    // (zeros are common), so the walk first checks the directory, which
    // the gate's own read brought in.
    {WalkId::kIco, 4, {{0, 0}, {1, 0}, {2, 1}, {3, 0}}},
    {WalkId::kIco, 4, {{0, 0}, {1, 0}, {2, 2}, {3, 0}}},
    // Netpbm's "P1" to "P6" and the whitespace writers put behind it (a line
    // break or a blank; the next byte may be a digit or a comment: three
    // tests); PAM's "P7" and its first header line, a field or a comment.
    Text(WalkId::kNetpbm, 0, "P1\n"), Text(WalkId::kNetpbm, 0, "P2\n"), Text(WalkId::kNetpbm, 0, "P3\n"),
    Text(WalkId::kNetpbm, 0, "P4\n"), Text(WalkId::kNetpbm, 0, "P5\n"), Text(WalkId::kNetpbm, 0, "P6\n"),
    Text(WalkId::kNetpbm, 0, "P1 "), Text(WalkId::kNetpbm, 0, "P2 "), Text(WalkId::kNetpbm, 0, "P3 "),
    Text(WalkId::kNetpbm, 0, "P4 "), Text(WalkId::kNetpbm, 0, "P5 "), Text(WalkId::kNetpbm, 0, "P6 "),
    Text(WalkId::kNetpbm, 0, "P7\nW"), Text(WalkId::kNetpbm, 0, "P7\n#"),
    // A TGA header without an ID: colour map type, image type (colour-mapped,
    // true colour or gray; raw or RLE) and the colour map's first index low
    // byte. Weak: the walk holds the whole header to strict rules.
    {WalkId::kTga, 4, {{0, 0}, {1, 0}, {2, 2}, {3, 0}}},
    {WalkId::kTga, 4, {{0, 0}, {1, 0}, {2, 10}, {3, 0}}},
    {WalkId::kTga, 4, {{0, 0}, {1, 0}, {2, 3}, {3, 0}}},
    {WalkId::kTga, 4, {{0, 0}, {1, 0}, {2, 11}, {3, 0}}},
    {WalkId::kTga, 4, {{0, 0}, {1, 1}, {2, 1}, {3, 0}}},
    {WalkId::kTga, 4, {{0, 0}, {1, 1}, {2, 9}, {3, 0}}},
    // " xcf" of "gimp xcf ", not "gimp", to keep the word in text from
    // waking the walk; the walk checks the rest.
    Text(WalkId::kXcf, 4, " xcf"),
    // Text: "#!" and an absolute path; XML's declaration, "<svg" and a
    // byte order mark before "<"; HTML's document type or root element as
    // writers case them; JSON objects and arrays as indenting writers open
    // them, compact ones by their first key (2 and 3 tests: no fixed byte
    // follows); RTF; PostScript; a mailbox's "From " line and the header
    // fields that messages begin with, by four bytes in a row of their name
    // and colon (the search looks for such a literal fastest; the walk
    // checks the whole name).
    Text(WalkId::kText, 0, "#!/u"), Text(WalkId::kText, 0, "#!/b"), Text(WalkId::kText, 0, "#! /"),
    Text(WalkId::kText, 0, "<?xm"), Text(WalkId::kText, 0, "<svg"), Text(WalkId::kText, 0, "\xEF\xBB\xBF<"),
    Text(WalkId::kText, 0, "<!DO"), Text(WalkId::kText, 0, "<!do"), Text(WalkId::kText, 0, "<htm"),
    Text(WalkId::kText, 0, "<HTM"),
    Text(WalkId::kText, 0, "{\n  "), Text(WalkId::kText, 0, "{\n\t\""), Text(WalkId::kText, 0, "{\r\n "),
    Text(WalkId::kText, 0, "[\n  "), Text(WalkId::kText, 0, "[\n\t{"), Text(WalkId::kText, 0, "[{\n "),
    Text(WalkId::kText, 0, "[{\""), Text(WalkId::kText, 0, "{\""),
    Text(WalkId::kText, 0, "{\\rt"), Text(WalkId::kText, 0, "%!PS"),
    Text(WalkId::kText, 0, "From"), Text(WalkId::kText, 1, "ate:"), Text(WalkId::kText, 0, "To: "),
    Text(WalkId::kText, 4, "ect:"), Text(WalkId::kText, 5, "ved:"), Text(WalkId::kText, 8, "ath:"),
    Text(WalkId::kText, 6, "red-"), Text(WalkId::kText, 1, "IME-"), Text(WalkId::kText, 4, "age-"),
    // An ID3v2 tag, or a frame sync with a version and layer that exist:
    // FF E2-E3 (MPEG 2.5, layer III only), FF F0-F1 and F8-F9 (ADTS), FF
    // F2-F7 and FA-FF.
    Text(WalkId::kMpegAudio, 0, "ID3"),
    Sync(0xE2), Sync(0xE3),
    Sync(0xF0), Sync(0xF1), Sync(0xF2), Sync(0xF3), Sync(0xF4), Sync(0xF5), Sync(0xF6), Sync(0xF7),
    Sync(0xF8), Sync(0xF9), Sync(0xFA), Sync(0xFB), Sync(0xFC), Sync(0xFD), Sync(0xFE), Sync(0xFF),
};

inline constexpr size_t kMagicCount = sizeof(kMagics) / sizeof(kMagics[0]);

}  // namespace formathound
