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

// The byte at position + offset must equal value.
struct MagicTest {
    uint16_t offset;
    uint8_t value;
};

// A walk may start where all tests of one of its magics hold.
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

// An MPEG audio or ADTS frame sync whose second byte is second.
constexpr Magic Sync(uint8_t second) { return {WalkId::kMpegAudio, 2, {{0, 0xFF}, {1, second}}}; }

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
    // An Ogg page of version 0 that begins a stream.
    {WalkId::kOgg, 4, {{0, 'O'}, {1, 'g'}, {4, 0}, {5, 0x02}}},
    // The EBML header's ID.
    Text(WalkId::kMatroska, 0, "\x1A\x45\xDF\xA3"),
    Text(WalkId::kFlac, 0, "fLaC"),
    // RIFF of form type AVI, IFF of form type AIFF or AIFC.
    {WalkId::kAvi, 4, {{0, 'R'}, {1, 'I'}, {8, 'A'}, {9, 'V'}}},
    {WalkId::kAiff, 4, {{0, 'F'}, {1, 'O'}, {8, 'A'}, {9, 'I'}}},
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
    // (ole2 rows)
    // (sqlite rows)
    // (pe rows)
    // (elf rows)
    // (macho rows)
    // (seven_zip rows)
    // (rar rows)
    // (xz rows)
    // (zstd rows)
    // (lz4 rows)
    // (gzip rows)
    // (bzip2 rows)
    // (tar rows)
    // (cpio rows)
    // (ar rows)
    // (iso9660 rows)
    // (tiff rows)
    // (psd rows)
    // (ico rows)
    // (netpbm rows)
    // (tga rows)
    // (xcf rows)
    // (text rows)
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
