// The checkers on real files that their tools make at test time: each file
// valid with its exact end, and invalid when cut short or damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "host/base/decoder_memory.h"
#include "host/check/formats.h"
#include "tests/fakes/temp_dir.h"
#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

constexpr long kMiddle = std::numeric_limits<long>::min();

// A second of video and sound, and of sound alone.
const std::string kFfmpeg =
    "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -f lavfi -i sine=duration=1";
const std::string kFfmpegAudio = "ffmpeg -v error -f lavfi -i sine=duration=1";
// A RIFF AVIX chunk holding a LIST movi with one 4-byte video frame (printf).
const std::string kAvix = "RIFF\\034\\0\\0\\0AVIXLIST\\020\\0\\0\\0movi00dc\\004\\0\\0\\0\\0\\0\\0\\0";

// A program, a library's source, a Debian package's tree (dpkg-deb
// --build follows) and an installer database with a table.
const std::string kMain = "printf 'int main(void) { return 0; }\\n' > m.c";
const std::string kLibrary = "printf 'int g = 3;\\nstatic char b[64];\\nint f(int x) { return x + g; }\\n"
                             "char* h(void) { return b; }\\n' > f.c";
const std::string kDeb = "mkdir -p p/DEBIAN p/usr/share/h && printf 'Package: h\\nVersion: 1\\nArchitecture: all\\n"
                         "Maintainer: h <h@h>\\nDescription: h\\n' > p/DEBIAN/control && seq 3000 > p/usr/share/h/n && "
                         "dpkg-deb --build --root-owner-group";
const std::string kMsi = "msibuild item -s hound hound 'Intel;1033' '{12345678-1234-1234-1234-123456789012}' && "
                         "msibuild item -q 'CREATE TABLE `T` (`A` CHAR(72) NOT NULL PRIMARY KEY `A`)' && "
                         "msibuild item -q \"$(printf 'INSERT INTO `T` (`A`) VALUES (\\047hound\\047)')\"";

struct FileRow {
    const char* name;
    const char* format;  // the checker expected
    std::string command; // makes "item" in the current folder
    // A byte range overwritten with damage[], which the format's rules must
    // catch: from the file's start, from its end when negative, or at its
    // middle (kMiddle).
    long damage_at;
    std::vector<uint8_t> damage;
    const char* extension = nullptr;  // the name its content gives it, if any
    const char* route = nullptr;      // the finder's extension, for formats without a magic
};

// An archive of the named entries, each a line of text unless made before; the first
// stored, as OpenDocument and EPUB want their "mimetype" entry.
std::string Archive(const std::string& first, const std::string& more) {
    return "for f in " + first + " " + more + "; do mkdir -p \"$(dirname \"$f\")\" && { [ -e \"$f\" ] || echo text > \"$f\"; }; done && " +
           "zip -q -X -0 item.zip " + first + " && zip -q -X -r item.zip " + more + " && mv item.zip item";
}

const FileRow kFiles[] = {
    {"baseline JPEG", "jpeg", "convert -size 64x48 plasma:fractal -seed 1 jpg:item", kMiddle, {0xFF, 0xD9}},
    {"progressive JPEG", "jpeg", "convert -size 64x48 gradient:red-blue ppm:- | cjpeg -progressive > item",
     kMiddle, {0xFF, 0xD9}},
    {"JPEG with restart markers", "jpeg",
     "convert -size 64x48 gradient:red-blue ppm:- | cjpeg -restart 1 > item", kMiddle, {0xFF, 0xD9}},
    {"PNG", "png", "convert -size 40x30 gradient:red-blue png:item", kMiddle, {0x00}},
    {"GIF", "gif", "convert -size 32x32 pattern:checkerboard gif:item", -1, {0x00}},
    {"animated GIF", "gif", "convert -size 16x16 xc:red xc:blue -loop 0 gif:item", -1, {0x00}},
    {"BMP", "bmp", "convert -size 33x17 gradient:red-blue bmp:item", 26, {0x02}},
    {"BMP version 3", "bmp", "convert -size 5x3 xc:green bmp3:item", 2, {0x10}},
    {"WAV", "riff", "sox -n -r 8000 -b 16 -c 1 -t wav item synth 0.05 sine 440", 12, {'x'}},
    {"WAV, format tag unknown", "riff", "sox -n -r 8000 -b 16 -c 1 -t wav item synth 0.05 sine 440", 20, {0, 0}},
    {"WebP", "riff", "convert -size 40x30 gradient:red-blue webp:item", 12, {'x'}},
    {"ZIP", "zip", "convert -size 40x30 gradient:red-blue a.ppm && zip -q item.zip a.ppm && mv item.zip item",
     kMiddle, {0x00, 0x00, 0x00, 0x00}},
    {"ZIP with a comment", "zip",
     "convert -size 40x30 xc:red a.ppm && echo remark | zip -q -z item.zip a.ppm && mv item.zip item",
     kMiddle, {0x00, 0x00, 0x00, 0x00}},
    {"streamed ZIP (data descriptors)", "zip",
     "convert -size 40x30 gradient:red-blue a.ppm && zip -q - a.ppm > item", kMiddle, {0x00, 0x00, 0x00, 0x00}},
    {"ZIP written to a pipe", "zip", "convert -size 40x30 gradient:red-blue a.ppm && zip -q - a.ppm | cat > item",
     kMiddle, {0x00, 0x00, 0x00, 0x00}},
    {"docx", "zip", Archive("'[Content_Types].xml'", "_rels/.rels word/document.xml"), kMiddle, {0, 0, 0, 0}, "docx"},
    {"xlsx", "zip", Archive("'[Content_Types].xml'", "xl/workbook.xml xl/worksheets/sheet1.xml"), kMiddle,
     {0, 0, 0, 0}, "xlsx"},
    {"odt", "zip", "printf application/vnd.oasis.opendocument.text > mimetype && " +
     Archive("mimetype", "content.xml META-INF/manifest.xml"), 40, {0, 0, 0, 0}, "odt"},
    {"epub", "zip", "printf application/epub+zip > mimetype && " +
     Archive("mimetype", "META-INF/container.xml OEBPS/content.opf"), 40, {0, 0, 0, 0}, "epub"},
    {"jar", "zip", Archive("META-INF/MANIFEST.MF", "a/A.class a/B.class"), kMiddle, {0, 0, 0, 0}, "jar"},
    {"apk", "zip", Archive("AndroidManifest.xml", "classes.dex META-INF/MANIFEST.MF"), kMiddle, {0, 0, 0, 0},
     "apk"},
    {"whl", "zip", Archive("x/__init__.py", "x-1.0.dist-info/WHEEL x-1.0.dist-info/RECORD"), kMiddle,
     {0, 0, 0, 0}, "whl"},
    {"ZIP holding a stored ZIP", "zip",
     "convert -size 40x30 xc:red a.ppm && zip -q in.zip a.ppm && zip -q -0 item.zip in.zip a.ppm && mv item.zip item",
     kMiddle, {'X', 'X', 'X', 'X'}},
    {"gzip", "gzip", "convert -size 40x30 gradient:red-blue a.ppm && gzip -c a.ppm > item", kMiddle, {0, 0, 0, 0}},
    {"bzip2", "bzip2", "convert -size 40x30 gradient:red-blue a.ppm && bzip2 -c a.ppm > item", kMiddle,
     {0, 0, 0, 0}},
    {"xz", "xz", "convert -size 40x30 gradient:red-blue a.ppm && xz -c a.ppm > item", kMiddle, {0, 0, 0, 0}},
    {"Zstandard", "zstd", "convert -size 40x30 gradient:red-blue a.ppm && zstd -q -c a.ppm > item", kMiddle,
     {0, 0, 0, 0}},
    {"LZ4", "lz4", "convert -size 40x30 gradient:red-blue a.ppm && lz4 -q -c a.ppm > item", kMiddle, {0, 0, 0, 0}},
    {"7z", "7z", "convert -size 40x30 gradient:red-blue a.ppm && 7z a -bd -bso0 item.7z a.ppm && mv item.7z item",
     kMiddle, {0, 0, 0, 0}},
    {"tar", "tar", "convert -size 40x30 gradient:red-blue a.ppm && tar cf item a.ppm", 148, {'9'}},
    {"cpio", "cpio", "convert -size 40x30 gradient:red-blue a.ppm && echo a.ppm | cpio -o -H newc --quiet > item",
     94, {'7', 'F', 'F', 'F', 'F', 'F', 'F', 'F'}},
    {"ISO 9660", "iso9660", "mkdir -p d && convert -size 40x30 gradient:red-blue d/a.ppm && "
     "genisoimage -quiet -r -o item d", 32768 + 156, {0, 0, 0, 0}},
    {"SQLite", "sqlite", "sqlite3 item 'create table t(a, b); create index i on t(b); "
     "with recursive n(x) as (select 1 union all select x + 1 from n where x < 300) "
     "insert into t select x, hex(randomblob(40)) from n'", 4096 + 8, {0xFF, 0xFF, 0xFF, 0xFF}},
    {"SQLite in WAL mode", "sqlite", "sqlite3 item 'pragma journal_mode=wal; create table t(a); "
     "insert into t values (1), (2)' >/dev/null && test -f item", 4096 + 8, {0xFF, 0xFF, 0xFF, 0xFF}},
    {"TIFF, deflate", "tiff", "convert -size 64x48 gradient:red-blue -compress zip tif:item", kMiddle,
     {0, 0, 0, 0}},
    {"BigTIFF, big-endian, LZW", "tiff",
     "convert -size 64x48 gradient:red-blue -compress lzw -define tiff:endian=msb TIFF64:item", kMiddle,
     {0, 0, 0, 0}},
    {"PDF", "pdf",
     "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=item -c '/Helvetica findfont 12 scalefont "
     "setfont 72 72 moveto (hound) show showpage'",
     -6, {'X'}},
    {"CAB", "cab", "convert -size 40x30 gradient:red-blue a.ppm && gcab -c -z item a.ppm", 24, {0x04}},
    {"Wave64", "w64", "sox -n -r 8000 -c 2 -b 16 -t w64 item synth 0.05 sine 440", 40, {0x00, 0x00}},
    {"Wave64, odd last chunk", "w64", "sox -n -r 8000 -c 1 -b 8 -t w64 item synth 0.000375 sine 440", 88, {0x01}},
    // A first box of size 4 breaks the chain; what the demuxer alone catches
    // is below (MovieSamplesPastTheItemEndAreInvalid).
    {"MP4, movie box first", "isobmff", kFfmpeg + " -c:v mpeg4 -c:a aac -movflags +faststart -f mp4 item", 3, {4}},
    {"QuickTime movie, movie box last", "isobmff", kFfmpeg + " -c:v mpeg4 -c:a aac -f mov item", 3, {4}},
    {"M4A", "isobmff", kFfmpegAudio + " -c:a aac -f ipod item", 3, {4}},
    // The header list's ID renamed: the chunk walk holds, the demuxer finds no stream.
    {"AVI", "riff", kFfmpeg + " -c:v mpeg4 -c:a mp2 -f avi item", 12, {'x'}},
    // Two OpenDML continuations as a file over 1 GiB has them, one frame each.
    {"AVI with AVIX continuations", "riff",
     kFfmpeg + " -c:v mpeg4 -c:a mp2 -f avi item && for i in 1 2; do printf '" + kAvix + "' >> item; done", 12,
     {'x'}},
    {"binary PGM, largest value 100", "netpbm", "pgmramp -lr 40 30 | pnmdepth 100 > item", kMiddle, {0xFF}, nullptr,
     "pgm"},
    {"plain PPM", "netpbm", "convert -size 8x6 gradient:red-blue -compress none ppm:item", kMiddle, {'x'}, nullptr,
     "ppm"},
    // DEPTH 3 made 4: the tuple type RGB takes 3.
    {"PAM", "netpbm", "convert -size 20x10 gradient:red-blue pam:item", 28, {'4'}, nullptr, "pam"},
    {"TGA", "tga", "convert -size 40x30 gradient:red-blue tga:item", 16, {7}, nullptr, "tga"},
    {"TGA, RLE", "tga", "convert -size 40x30 gradient:red-blue -compress RLE tga:item", 18, {0xFF}, nullptr, "tga"},
    {"TGA, colour-mapped", "tga", "convert -size 40x30 gradient:red-blue -colors 4 -type Palette tga:item", -1,
     {0xFF}, nullptr, "tga"},
    // The first layer's channel count made 60.
    {"PSD", "psd", "convert -size 40x30 gradient:red-blue psd:item", 88, {0, 60}},
    // The DIB's width against its entry's.
    {"ICO", "ico", "convert -size 16x16 gradient:red-blue a.png && icotool -c -o item a.png", 26, {0x11}, nullptr,
     "ico"},
    {"ICO holding a PNG", "ico", "convert -size 16x16 gradient:red-blue a.png && icotool -c -r a.png -o item",
     kMiddle, {0, 0, 0, 0}, nullptr, "ico"},
    {"CUR", "ico", "convert -size 16x16 gradient:red-blue a.png && icotool -c --cursor -X 2 -Y 3 -o item a.png",
     10, {0x20}, nullptr, "cur"},
    // Four tiles of 64x64 pixels; GIMP takes some seconds to start.
    {"XCF", "xcf",
     "convert -size 80x70 gradient:red-blue PNG24:a.png && gimp-console -i -d -f -b '(let* ((image (car "
     "(gimp-file-load RUN-NONINTERACTIVE \"a.png\" \"a.png\"))) (layer (car (gimp-image-get-active-layer image)))) "
     "(gimp-xcf-save RUN-NONINTERACTIVE image layer \"item\" \"item\") (gimp-quit 0))' >/dev/null",
     kMiddle, {0xFF, 0xFF, 0xFF, 0xFF}},
    // An inner end tag renamed: the walk counts depth only, libxml2 matches names.
    {"XML", "text", "printf '<doc><p a=\"1\">text</p><p>more &amp; more</p></doc>' | xmllint --format - > item",
     -11, {'q'}},
    {"XML in ISO-8859-1", "text",
     "printf '<doc>caf\\303\\251 cr\\303\\250me</doc>' | xmllint --encode ISO-8859-1 - > item", -12, {0x85}},
    {"SVG", "text", "printf '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><rect "
     "width=\"5\" height=\"5\"/><!-- mark --></svg>' | xmllint --format - > item", -10, {'/'}},
    {"HTML", "text", "printf '<!DOCTYPE html>\\n<html><head><title>a</title><script>if (a < b) c = \"</p>\";"
     "</script></head>\\n<body><!-- note --><p class=\"x\">text</p></body>\\n</html>\\n' > item", 109, {'x'}},
    {"JSON", "text",
     "python3 -c 'import json; print(json.dumps({\"a\": [1, 2.5, \"x\"], \"b\": {\"c\": None, \"d\": True}}, "
     "indent=2))' > item", kMiddle, {']'}, nullptr, "json"},
    {"RTF", "text", "printf '{\\\\rtf1\\\\ansi{\\\\fonttbl{\\\\f0 Times;}}\\\\f0 caf\\\\'\"'\"'e9 {\\\\b bold}\\\\par\\n}\\n' "
     "> item", -2, {'x'}},
    {"PostScript", "text",
     "gs -q -dNOPAUSE -dBATCH -sDEVICE=ps2write -sOutputFile=item -c '/Helvetica findfont 12 scalefont "
     "setfont 72 72 moveto (hound) show showpage'", -4, {'X'}},
    // RAR: no RAR writer is free, so one stored file in each version, made
    // by hand (headers with their CRCs); damage in the file's data breaks
    // its CRC, which libarchive checks.
    {"RAR 4, stored", "rar",
     "printf 'Rar!\\032\\007\\000\\317\\220s\\000\\000\\015\\000\\000\\000\\000\\000\\000\\000\\231\\367t\\000\\200"
     "\\045\\000\\032\\000\\000\\000\\032\\000\\000\\000\\000\\251J\\203*\\000\\000!Z\\0240\\005\\000 \\000\\000\\000"
     "a.txthound checks RAR archives\\012\\304={\\000@\\007\\000' > item", 57, {'X'}},
    {"RAR 5, stored", "rar",
     "printf 'Rar!\\032\\007\\001\\000\\305\\03232\\003\\001\\000\\000\\312\\247To\\022\\002\\002\\032\\004\\032 "
     "\\251J\\203*\\000\\000\\005a.txthound checks RAR archives\\012\\031\\262:5\\003\\005\\000\\000' > item",
     39, {'X'}},
    // A symbol table, a long-name table and an odd member; a size that is no number.
    {"ar archive", "ar", "printf 'int f(void) { return 1; }\\n' > a.c && gcc -c a.c -o a_rather_long_object_name.o && "
     "printf x > b && ar rcs item a_rather_long_object_name.o b", 8 + 48, {'x'}},
    {"Debian package, xz", "ar", kDeb + " -Zxz p item >/dev/null", 8 + 60, {'3'}},
    {"Debian package, gzip", "ar", kDeb + " -Zgzip p item >/dev/null", kMiddle, {0, 0, 0, 0}},
    // A stream's size in its directory entry that its chain does not hold.
    {"OLE2 compound file", "ole2", "mkdir -p o/s && seq 2000 > o/WordDocument && echo text > o/1Table && "
     "seq 50 > o/s/inner && cd o && gsf createole ../item WordDocument 1Table s", 11000, {0x00, 0x30}},
    {"Windows Installer package", "ole2", kMsi + " && seq 1500 > b && msibuild item -a Binary.b b", 9209, {0x03}},
    // The PE checksum catches damage anywhere; a name past the section name table.
    {"PE32+ program", "pe", kMain + " && x86_64-w64-mingw32-gcc -o p.exe m.c && mv p.exe item", kMiddle,
     {'X', 'Y', 'Z', 'W'}},
    {"PE32 library, stripped", "pe", kLibrary + " && i686-w64-mingw32-gcc -s -shared -o p.dll f.c && mv p.dll item",
     kMiddle, {'X', 'Y', 'Z', 'W'}},
    {"PE32 program, signed", "pe",
     kMain + " && i686-w64-mingw32-gcc -o p.exe m.c && openssl req -x509 -newkey rsa:2048 -nodes -keyout k.pem "
     "-out c.pem -subj /CN=hound -days 2 && osslsigncode sign -certs c.pem -key k.pem -in p.exe -out item",
     -100, {'X', 'Y', 'Z', 'W'}},
    {"ELF program", "elf", kMain + " && gcc -o item m.c", -64, {0xFF, 0xFF, 0xFF, 0x7F}},
    {"ELF shared object", "elf", kLibrary + " && gcc -shared -fPIC -o item f.c", -64, {0xFF, 0xFF, 0xFF, 0x7F}},
    {"ELF object, 32-bit", "elf", kLibrary + " && clang --target=i386-linux-gnu -c f.c -o item", -40,
     {0xFF, 0xFF, 0xFF, 0x7F}},
    {"ELF object, 64-bit big-endian", "elf", kLibrary + " && clang --target=powerpc64-linux-gnu -c f.c -o item",
     -64, {0xFF, 0xFF, 0xFF, 0x7F}},
    {"ELF object, 32-bit big-endian", "elf", kLibrary + " && clang --target=powerpc-linux-gnu -c f.c -o item",
     -40, {0xFF, 0xFF, 0xFF, 0x7F}},
    {"ELF core file", "elf",
     kMain + " && gcc -o prog m.c && gdb -q -batch -ex 'break main' -ex run -ex 'gcore item' ./prog >/dev/null", -64,
     {0xFF, 0xFF, 0xFF, 0x7F}},
    // FLAC: a byte of the last frame breaks its CRC-16; Ogg: a page's CRC.
    {"FLAC", "flac", "sox -n -r 8000 -c 1 -b 16 a.wav synth 1 sine 440 && flac -s -o item a.wav", -20,
     {0x12, 0x34, 0x56, 0x78}},
    // STREAMINFO's MD5 sum, which only decoding checks.
    {"FLAC, MD5 sum", "flac", "sox -n -r 8000 -c 1 -b 16 a.wav synth 1 sine 440 && flac -s -o item a.wav", 8 + 18,
     {0, 0, 0, 0}},
    {"Ogg Vorbis", "ogg", "sox -n -r 8000 -c 1 -b 16 a.wav synth 1 sine 440 && oggenc -Q -o item a.wav", kMiddle,
     {0, 0, 0, 0}},
    {"Ogg Opus", "ogg", "sox -n -r 8000 -c 1 -b 16 a.wav synth 1 sine 440 && opusenc --quiet a.wav item", kMiddle,
     {0, 0, 0, 0}},
    {"Ogg Theora video", "ogg", kFfmpeg + " -c:v libtheora -c:a libvorbis -f ogg item", kMiddle, {0, 0, 0, 0}},
    // Matroska and WebM: the EBML header's size made larger than it is.
    {"Matroska", "matroska", kFfmpeg + " -c:v mpeg4 -c:a mp2 -f matroska item", 4, {0xA0}},
    {"WebM", "matroska", kFfmpeg + " -c:v libvpx -c:a libopus -f webm item", 4, {0xA0}},
    // FLV: the first tag's type.
    {"FLV", "flv", kFfmpeg + " -c:v flv1 -c:a aac -f flv item", 13, {0x00}},
    // ASF: the header object's size.
    {"WMV", "asf", kFfmpeg + " -c:v wmv2 -c:a wmav2 -f asf item", 16, {0xFF}},
    {"WMA", "asf", kFfmpegAudio + " -c:a wmav2 -f asf item", 16, {0xFF}},
    // AIFF: the FORM's size.
    {"AIFF", "aiff", kFfmpegAudio + " -c:a pcm_s16be -f aiff item", 4, {0x7F}, nullptr, "aiff"},
    // A transport stream: the PAT's CRC.
    {"MPEG transport stream", "mpeg-ts", kFfmpeg + " -c:v mpeg2video -c:a mp2 -f mpegts item", 188 + 10, {0xFF},
     nullptr, "ts"},
    // MP3: the Info header's byte count, which the audio falls short of;
    // MP2 and ADTS: the first frame's header.
    {"MP3", "mpeg-audio", kFfmpegAudio + " -f wav - | lame --quiet - item", 33, {0x01}, nullptr, "mp3"},
    {"MP2", "mpeg-audio", kFfmpegAudio + " -c:a mp2 -f mp2 item", 1, {0x00}, nullptr, "mp2"},
    {"AAC (ADTS)", "mpeg-audio", kFfmpegAudio + " -c:a aac -f adts item", 1, {0x00}, nullptr, "aac"},
};

CheckResult Check(const std::vector<uint8_t>& bytes, const char* route = nullptr) {
    return CheckItem({bytes.data(), bytes.size(), nullptr, route});
}

const FileRow& Row(const std::string& name) {
    return *std::find_if(std::begin(kFiles), std::end(kFiles), [&](const FileRow& row) { return row.name == name; });
}

// The pre-check of the named format over bytes.
bool MayStart(const char* format, const std::vector<uint8_t>& bytes) {
    return FormatMayStart(FindFormat(format), {bytes.data(), bytes.size()});
}

// hound's JSON output: one object per line.
std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> items;
    for (const std::string& line : Lines(out)) items.push_back(nlohmann::json::parse(line));
    return items;
}

// True when a key or a text anywhere in value contains word.
bool Mentions(const nlohmann::json& value, const std::string& word) {
    if (value.is_string()) return value.get<std::string>().find(word) != std::string::npos;
    if (value.is_object()) {
        for (auto field = value.begin(); field != value.end(); ++field) {
            if (field.key().find(word) != std::string::npos || Mentions(field.value(), word)) return true;
        }
    }
    if (value.is_array()) {
        for (const nlohmann::json& element : value) {
            if (Mentions(element, word)) return true;
        }
    }
    return false;
}

std::vector<uint8_t> Make(const TempDir& dir, const FileRow& row) {
    const int status = Shell("cd " + ShellQuote(dir.path()) + " && rm -f item && (" + row.command + ") 2>/dev/null");
    EXPECT_EQ(status, 0) << row.command
                         << " (scripts/setup.sh installs imagemagick, sox, zip, ghostscript, gcab, ffmpeg)";
    return ReadBytes(dir.Native("item"));
}

TEST(Checkers, RealFilesValidToTheirEndCutShortOrDamagedInvalid) {
    TempDir dir;
    for (const FileRow& row : kFiles) {
        SCOPED_TRACE(row.name);
        const std::vector<uint8_t> file = Make(dir, row);
        ASSERT_GT(file.size(), 20u);

        // Bytes after the file belong to no item: the end is the format's.
        std::vector<uint8_t> longer = file;
        longer.insert(longer.end(), 3000, 0x5A);
        const CheckResult valid = Check(longer, row.route);
        EXPECT_EQ(valid.state, CheckState::kValid) << ReasonText(valid.format, valid.reason);
        EXPECT_STREQ(FormatName(valid.format), row.format);
        EXPECT_EQ(valid.end, file.size());
        EXPECT_STREQ(valid.extension != nullptr ? valid.extension : "-", row.extension ? row.extension : "-");

        const CheckResult cut = Check(Slice(file, 0, file.size() * 3 / 4), row.route);
        EXPECT_EQ(cut.state, CheckState::kInvalid);
        EXPECT_STRNE(ReasonText(cut.format, cut.reason), "");

        std::vector<uint8_t> damaged = longer;
        const size_t at = row.damage_at == kMiddle ? file.size() / 2
                          : row.damage_at < 0  ? file.size() - static_cast<size_t>(-row.damage_at)
                                               : static_cast<size_t>(row.damage_at);
        std::copy(row.damage.begin(), row.damage.end(), damaged.begin() + at);
        EXPECT_EQ(Check(damaged, row.route).state, CheckState::kInvalid);
    }
}

// Every format of the table has its rows of real files above.
TEST(Checkers, EveryFormatHasRealFiles) {
    for (const Format& format : Formats()) {
        SCOPED_TRACE(format.name);
        EXPECT_TRUE(std::any_of(std::begin(kFiles), std::end(kFiles),
                                [&](const FileRow& row) { return std::string(row.format) == format.name; }));
        EXPECT_FALSE(format.magics.empty() && format.extensions.empty());
        EXPECT_EQ(format.checker->reasons[0], std::string());
    }
}

TEST(Checkers, UnknownContentIsUncheckedAndHeaderAloneDecidesTheJpegPreCheck) {
    const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    EXPECT_EQ(Check(text).state, CheckState::kUnchecked);
    // FF D8 followed by no marker: no JPEG starts here.
    const std::vector<uint8_t> pair = {0xFF, 0xD8, 0x00, 0xFF, 0xD9};
    EXPECT_FALSE(MayStart("jpeg", pair));
    EXPECT_EQ(Check(pair).state, CheckState::kInvalid);
    TempDir dir;
    const std::vector<uint8_t> jpeg = Make(dir, Row("baseline JPEG"));
    EXPECT_TRUE(MayStart("jpeg", jpeg));
    // Damaged image data passes the pre-check; the full check rejects it.
    std::vector<uint8_t> damaged = jpeg;
    damaged[jpeg.size() / 2] = 0xFF;
    damaged[jpeg.size() / 2 + 1] = 0xD9;
    EXPECT_TRUE(MayStart("jpeg", damaged));
    EXPECT_EQ(Check(damaged).state, CheckState::kInvalid);
}

// The boxes fit, but the movie's tables index samples behind the last box:
// the demuxer finds them cut short.
TEST(Checkers, MovieSamplesPastTheItemEndAreInvalid) {
    TempDir dir;
    std::vector<uint8_t> mp4 = Make(dir, Row("MP4, movie box first"));
    const std::string text(mp4.begin(), mp4.end());
    const size_t mdat = text.rfind("mdat") - 4;
    ASSERT_LT(mdat, mp4.size());
    const uint32_t size = Be32(&mp4[mdat]) - 100;
    ASSERT_EQ(mdat + size + 100, mp4.size());  // the last box
    mp4.resize(mp4.size() - 100);
    for (int i = 0; i < 4; ++i) mp4[mdat + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    const CheckResult result = Check(mp4);
    EXPECT_EQ(result.state, CheckState::kInvalid);
    EXPECT_STRNE(ReasonText(result.format, result.reason), "");
}

// Items in a meta box and no movie: a still image, which is not read.
TEST(Checkers, StillImageInIsoMediaIsUnchecked) {
    TempDir dir;
    const CheckResult result = Check(Make(dir, {"HEIF", "isobmff", "convert -size 64x48 xc:red heic:item", 0, {}}));
    EXPECT_EQ(result.state, CheckState::kUnchecked);
    EXPECT_STREQ(FormatName(result.format), "isobmff");
}

// An AVIX continuation cut short is no part of the item, which ends behind
// the whole ones.
TEST(Checkers, AviEndsBehindItsLastWholeContinuation) {
    TempDir dir;
    const std::vector<uint8_t> avi = Make(dir, Row("AVI with AVIX continuations"));
    const size_t last = std::string(avi.begin(), avi.end()).rfind("RIFF");
    const CheckResult result = Check(Slice(avi, 0, avi.size() - 1));
    EXPECT_EQ(result.state, CheckState::kValid);
    EXPECT_EQ(result.end, last);
    EXPECT_GT(last, std::string(avi.begin(), avi.end()).find("AVIX"));
}

// An entry in the middle of an archive starts no archive, and the search
// for its directory ends with the archive, not with the data.
TEST(Checkers, ZipEntryInsideAnArchiveIsNoArchive) {
    TempDir dir;
    const std::vector<uint8_t> zip = Make(dir, {"two entries", "zip",
        "convert -size 8x8 xc:red a.ppm && cp a.ppm b.ppm && zip -q item.zip a.ppm b.ppm && mv item.zip item",
        kMiddle, {}});
    const std::string text(zip.begin(), zip.end());
    const size_t second = text.find("PK\x03\x04", 4);
    ASSERT_NE(second, std::string::npos);
    std::vector<uint8_t> tail = Slice(zip, second, zip.size() - second);
    tail.insert(tail.end(), zip.begin(), zip.end());  // a whole archive behind it
    EXPECT_EQ(Check(tail).state, CheckState::kInvalid);
    // The scan's pre-check agrees, without reading an entry.
    EXPECT_FALSE(MayStart("zip", tail));
    EXPECT_TRUE(MayStart("zip", zip));
}

TEST(Checkers, JpegProcessThatLibjpegDoesNotDecodeIsUnchecked) {
    // A lossless (SOF3) frame header: not decoded here, so not judged.
    const std::vector<uint8_t> lossless = {0xFF, 0xD8, 0xFF, 0xC3, 0, 11, 8, 0, 16, 0, 16, 1, 1, 0x11, 0,
                                           0xFF, 0xD9};
    EXPECT_EQ(Check(lossless).state, CheckState::kUnchecked);
    EXPECT_TRUE(MayStart("jpeg", lossless));
    // A precision that no JPEG process has is corrupt data.
    std::vector<uint8_t> seven = lossless;
    seven[3] = 0xC0;
    seven[6] = 7;
    EXPECT_EQ(Check(seven).state, CheckState::kInvalid);
}

// Without its checksum a signed image still has its certificate records
// checked: a revision that no WIN_CERTIFICATE has makes it invalid.
TEST(Checkers, PeCertificateRecordsAreCheckedWithoutTheChecksum) {
    TempDir dir;
    std::vector<uint8_t> pe = Make(dir, Row("PE32 program, signed"));
    ASSERT_GT(pe.size(), 0x40u);
    const size_t optional = Le32(&pe[0x3C]) + 24;
    ASSERT_EQ(Le16(&pe[optional]), 0x10Bu);
    std::fill_n(pe.begin() + optional + 64, 4, 0);  // no checksum
    const size_t certificate = Le32(&pe[optional + 96 + 8 * 4]);
    ASSERT_LT(certificate + 8, pe.size());
    EXPECT_EQ(Check(pe).state, CheckState::kValid);
    pe[certificate + 5] = 0x07;  // wRevision 0x0700
    const CheckResult result = Check(pe);
    EXPECT_EQ(result.state, CheckState::kInvalid);
    EXPECT_STREQ(ReasonText(result.format, result.reason), "bad certificate table");
}

TEST(Checkers, HeadersClaimingHugeSizesStayBounded) {
    // A JPEG header of 65535 x 65535 pixels with no data behind it, a PNG
    // IHDR of 2^31-1 pixels a side, a RIFF size of 4 GiB.
    const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0xFF, 0xFF, 0xFF, 0xFF, 1, 1, 0x11, 0,
                                       0xFF, 0xD9};
    EXPECT_NE(Check(jpeg).state, CheckState::kValid);
    // A header that libjpeg reads, 65000 x 65000 pixels up to its scan
    // header: past the pixel limit the decoder is not run, so the item is
    // unchecked rather than invalid.
    const std::vector<uint8_t> huge = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0xFD, 0xE8, 0xFD, 0xE8, 1, 1, 0x11, 0,
                                       0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0, 0xFF, 0xD9};
    const CheckResult limited = Check(huge);
    EXPECT_EQ(limited.state, CheckState::kUnchecked);
    EXPECT_STREQ(FormatName(limited.format), "jpeg");
    EXPECT_STREQ(ReasonText(limited.format, limited.reason), "pixel limit");
    // A progressive 8000 x 8000 picture: its coefficients (122 MiB) exceed
    // the decoders' shared memory, so it is not decoded.
    const std::vector<uint8_t> progressive = {0xFF, 0xD8, 0xFF, 0xC2, 0, 11, 8, 0x1F, 0x40, 0x1F, 0x40, 1, 1, 0x11, 0,
                                              0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0, 0, 0xFF, 0xD9};
    const CheckResult memory = Check(progressive);
    EXPECT_EQ(memory.state, CheckState::kUnchecked);
    EXPECT_STREQ(ReasonText(memory.format, memory.reason), "memory limit");
    std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'};
    riff.resize(64, 0);
    EXPECT_EQ(Check(riff).state, CheckState::kInvalid);
}

// A decoder that needs more of the shared memory than is free waits until
// another releases it; one that needs more than all of it is refused.
TEST(DecoderMemory, ReservationsWaitForEachOther) {
    DecoderMemoryHold first;
    EXPECT_FALSE(first.Reserve(kDecoderMemory + 1));
    ASSERT_TRUE(first.Reserve(kDecoderMemory));
    std::atomic<bool> reserved{false};
    std::thread second([&] {
        DecoderMemoryHold hold;
        reserved = hold.Reserve(1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(reserved);
    first.Release();
    second.join();
    EXPECT_TRUE(reserved);
}

// hound with the default library on an image holding a false BMP header
// whose size covers a GIF, and a ZIP with a comment (which its signature
// leaves out): checked, the GIF is found and the ZIP takes its true end;
// a docx is named by its content.
TEST(CheckedScan, FlagsInTableJsonAndDfxmlAndNoCheckUnchanged) {
    TempDir dir;
    const std::vector<uint8_t> gif = Make(dir, Row("GIF"));
    const std::vector<uint8_t> zip = Make(dir, Row("ZIP with a comment"));
    const std::vector<uint8_t> docx = Make(dir, Row("docx"));
    Image image(24000);
    image.Put(21000, docx);
    const std::vector<uint8_t> bmp = {'B', 'M', 0x00, 0x40, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0};
    image.Put(1000, bmp);
    image.Put(3000, gif);
    image.Put(18000, zip);  // behind the BMP's claimed end
    const std::string path = image.Save(dir.Native("disk.img"));
    const std::string plugins = PluginFolder(dir.Native("plugins"), {"jpeghound", "formathound", "markhound"});
    CopySignatureLibrary(plugins);
    const std::vector<std::string> scan = {"scan", path, "--plugins", plugins, "-q"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), scan.begin(), scan.end());
        return more;
    };

    const HoundRun json = RunHound(with({"--json", "--dfxml", dir.Native("report.xml")}));
    ASSERT_EQ(json.exit_code, 0) << json.err;
    const std::vector<nlohmann::json> items = JsonLines(json.out);
    ASSERT_EQ(items.size(), 3u) << json.out;
    EXPECT_EQ(items[2].value("ext", ""), "docx");
    EXPECT_EQ(items[2].value("size", uint64_t{0}), docx.size());
    EXPECT_EQ(items[0].value("offset", uint64_t{0}), 3000u);
    EXPECT_EQ(items[0].value("size", uint64_t{0}), gif.size());
    EXPECT_EQ(items[0].value("check", ""), "valid");
    EXPECT_EQ(items[0].value("checker", ""), "gif");
    EXPECT_EQ(items[1].value("offset", uint64_t{0}), 18000u);
    EXPECT_EQ(items[1].value("size", uint64_t{0}), zip.size());
    // The signature ends 22 bytes after PK 05 06, before the comment.
    const std::string zip_text(zip.begin(), zip.end());
    const size_t eocd = zip_text.rfind("PK\x05\x06");
    ASSERT_LT(eocd + 22, zip.size());
    const std::string plugin_size = std::to_string(eocd + 22);
    EXPECT_EQ(items[1].value("plugin_size", uint64_t{0}), eocd + 22);
    const std::vector<uint8_t> xml = ReadBytes(dir.Native("report.xml"));
    const std::string report(xml.begin(), xml.end());
    EXPECT_NE(report.find("check=\"valid\" plugin_size=\"" + plugin_size + "\""), std::string::npos);

    const HoundRun table = RunHound(with({"--out", dir.Native("out")}));
    EXPECT_EQ(ReadBytes(dir.Native("out/docx/disk.img-0000000000005208.docx")), docx);
    EXPECT_NE(table.out.find("valid, size corrected from " + plugin_size), std::string::npos) << table.out;
    // The audit counts the rejected BMP: its header size is filler bytes.
    const std::vector<uint8_t> audit = ReadBytes(dir.Native("out/audit.txt"));
    EXPECT_NE(std::string(audit.begin(), audit.end()).find("\n  bmp: bad header size  1\n"), std::string::npos);

    // Unchecked, the BMP hides the GIF, the ZIP ends before its comment and
    // no output names a check.
    const HoundRun plain = RunHound(with({"--json", "--no-check", "--dfxml", dir.Native("plain.xml")}));
    const std::vector<nlohmann::json> plain_items = JsonLines(plain.out);
    auto any_item = [&](auto&& predicate) {
        return std::any_of(plain_items.begin(), plain_items.end(), predicate);
    };
    EXPECT_TRUE(any_item([](const nlohmann::json& item) { return item.value("offset", uint64_t{0}) == 1000; }))
        << plain.out;
    EXPECT_FALSE(any_item([](const nlohmann::json& item) { return item.value("offset", uint64_t{0}) == 3000; }))
        << plain.out;
    EXPECT_TRUE(any_item([&](const nlohmann::json& item) { return item.value("size", uint64_t{0}) == eocd + 22; }))
        << plain.out;
    EXPECT_FALSE(any_item([](const nlohmann::json& item) { return Mentions(item, "check"); })) << plain.out;
    const std::vector<uint8_t> plain_xml = ReadBytes(dir.Native("plain.xml"));
    EXPECT_EQ(std::string(plain_xml.begin(), plain_xml.end()).find("check="), std::string::npos);
}

}  // namespace
