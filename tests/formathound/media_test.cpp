// Files made at test time by the formats' own tools (encoders, muxers,
// archivers, compressors, compilers, image and document tools): each found
// inside other bytes with its exact size and extension, and none found
// whole once cut short.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formathound/detect.h"
#include "tests/fakes/fake_reader.h"
#include "tests/fakes/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Tools write their output to OUT, in the test's folder.
struct MadeFile {
    const char* label;
    const char* command;
    const char* extension;
};

void PrintTo(const MadeFile& file, std::ostream* out) { *out << file.label; }

// A second of test pictures and tone, small enough to keep the table fast.
#define VIDEO "-f lavfi -i testsrc=duration=1:size=64x48:rate=10 "
#define TONE "-f lavfi -i sine=frequency=440:duration=1 "
#define FF "ffmpeg -y -nostdin -loglevel error "

const MadeFile kFiles[] = {
    {"mp4", FF VIDEO TONE "-c:v mpeg4 -c:a aac -shortest OUT.mp4", "mp4"},
    {"mp4 faststart", FF VIDEO "-c:v mpeg4 -movflags +faststart OUT.mp4", "mp4"},
    {"fragmented mp4", FF VIDEO "-c:v mpeg4 -movflags +frag_keyframe+empty_moov OUT.mp4", "mp4"},
    {"mov", FF VIDEO TONE "-c:v mjpeg -c:a pcm_s16le -shortest OUT.mov", "mov"},
    {"m4a", FF TONE "-c:a aac OUT.m4a", "m4a"},
    {"3gp", FF VIDEO "-s 176x144 -c:v h263 OUT.3gp", "3gp"},
    {"ogg vorbis", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && oggenc -Q OUT.wav -o OUT.ogg", "ogg"},
    {"opus", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && opusenc --quiet OUT.wav OUT.opus", "opus"},
    {"ogv", FF VIDEO TONE "-c:v libtheora -c:a libvorbis -shortest OUT.ogv", "ogv"},
    {"mkv", FF VIDEO TONE "-c:v mpeg4 -c:a libvorbis -shortest OUT.mkv", "mkv"},
    {"mkv flac", FF VIDEO TONE "-c:v mpeg4 -c:a flac -shortest OUT.mkv", "mkv"},
    {"mkv to a pipe", FF VIDEO TONE "-c:v mpeg4 -c:a libvorbis -shortest -f matroska - | tee OUT.mkv", "mkv"},
    {"flac", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && flac -s -f OUT.wav -o OUT.flac", "flac"},
    {"flac by ffmpeg", FF TONE "-c:a flac OUT.flac", "flac"},
    {"flac of unknown length", FF TONE "-c:a flac -f flac - | tee OUT.flac", "flac"},
    {"mka", FF TONE "-c:a libvorbis OUT.mka", "mka"},
    {"webm", FF VIDEO TONE "-c:v libvpx -c:a libvorbis -shortest OUT.webm", "webm"},
    {"avi", FF VIDEO TONE "-c:v mpeg4 -c:a pcm_s16le -shortest OUT.avi", "avi"},
    {"aiff", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && sox -V1 OUT.wav OUT.aiff", "aiff"},
    {"aifc", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && sox -V1 OUT.wav OUT.aifc", "aifc"},
    {"flv", FF VIDEO TONE "-c:v flv -c:a mp3 -ar 44100 -shortest OUT.flv", "flv"},
    {"flv of audio alone", FF TONE "-c:a mp3 -ar 44100 OUT.flv", "flv"},
    {"wmv", FF VIDEO TONE "-c:v wmv2 -c:a wmav2 -shortest OUT.wmv", "wmv"},
    {"wmv to a pipe", FF VIDEO TONE "-c:v wmv2 -c:a wmav2 -shortest -f asf - | tee OUT.wmv", "wmv"},
    {"wma", FF TONE "-c:a wmav2 OUT.wma", "wma"},
    {"mpg", FF VIDEO TONE "-c:v mpeg1video -r 25 -c:a mp2 -shortest -f mpeg OUT.mpg", "mpg"},
    {"vob", FF VIDEO TONE "-c:v mpeg2video -c:a ac3 -shortest -f dvd OUT.vob", "vob"},
    {"ts", FF VIDEO TONE "-c:v mpeg2video -c:a mp2 -shortest -f mpegts OUT.ts", "ts"},
    {"m2ts", FF VIDEO TONE "-c:v mpeg2video -c:a ac3 -shortest -f mpegts -mpegts_m2ts_mode 1 OUT.m2ts", "m2ts"},
    {"mp3 by lame", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && lame --quiet OUT.wav OUT.mp3", "mp3"},
    {"mp3 with id3v1", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && lame --quiet --add-id3v2 --tt x --ta y "
                       "OUT.wav OUT.mp3", "mp3"},
    {"mp3 by ffmpeg", FF TONE "-c:a libmp3lame OUT.mp3", "mp3"},
    {"mp2", FF TONE "-c:a mp2 OUT.mp2", "mp2"},
    {"aac adts", FF TONE "-c:a aac -f adts OUT.aac", "aac"},
    {"aac adts with id3v2 and ape", FF TONE "-c:a aac -f adts -write_id3v2 1 -write_apetag 1 "
                                    "-metadata title=x OUT.aac", "aac"},
    {"mp3 mpeg 2.5 vbr", "sox -V1 -n -b 16 OUT.wav synth 1 sine 440 && lame --quiet -V 4 --resample 8 "
                         "OUT.wav OUT.mp3", "mp3"},
    // OLE2 compound files by gsf, named by their streams; an MSI by msibuild;
    // a doc of 9 MB, whose FAT sectors need a DIFAT sector.
    {"doc by gsf", "mkdir -p OUT.d && cd OUT.d && seq 1 2000 > WordDocument && seq 1 40 > 1Table && "
                   "gsf createole OUT.doc WordDocument 1Table >/dev/null 2>&1 && test -s OUT.doc", "doc"},
    {"xls by gsf", "mkdir -p OUT.d && cd OUT.d && seq 1 3000 > Workbook && seq 1 9 > CompObj && "
                   "gsf createole OUT.xls Workbook CompObj >/dev/null 2>&1 && test -s OUT.xls", "xls"},
    {"ppt by gsf", "mkdir -p OUT.d && cd OUT.d && seq 1 5000 > 'PowerPoint Document' && seq 1 9 > 'Current User' "
                   "&& gsf createole OUT.ppt 'PowerPoint Document' 'Current User' >/dev/null 2>&1 && test -s OUT.ppt",
     "ppt"},
    {"msg by gsf", "mkdir -p 'OUT.d/__attach_version1.0_#00000000' && cd OUT.d && seq 1 30 > __substg1.0_0037001F "
                   "&& seq 1 900 > __properties_version1.0 && seq 1 20 > "
                   "'__attach_version1.0_#00000000/__substg1.0_37010102' && gsf createole OUT.msg "
                   "__substg1.0_0037001F __properties_version1.0 '__attach_version1.0_#00000000' >/dev/null 2>&1 && "
                   "test -s OUT.msg", "msg"},
    {"msi by msibuild", "seq 1 3000 > OUT.txt && msibuild OUT.msi -s title me ';1033' "
                        "'{12345678-1234-1234-1234-123456789012}' && msibuild OUT.msi -q 'CREATE TABLE Property "
                        "(Property CHAR(72) NOT NULL, Value CHAR(0) NOT NULL PRIMARY KEY Property)' && "
                        "msibuild OUT.msi -q \"INSERT INTO Property (Property, Value) VALUES "
                        "('ProductName', 'Thing')\" && msibuild OUT.msi -a Data OUT.txt && test -s OUT.msi", "msi"},
    {"doc with a DIFAT sector", "mkdir -p OUT.d && cd OUT.d && seq 1 1300000 > WordDocument && "
                                "gsf createole OUT.doc WordDocument >/dev/null 2>&1 && test -s OUT.doc", "doc"},
    // SQLite databases by the sqlite3 shell; "old" ones have their "version
    // valid for" number zeroed, as versions before the page count was kept
    // left it, so that the walk measures them by their b-trees and freelist.
#define SQLITE_SEVERAL "sqlite3 OUT.sqlite 'create table a(x integer primary key, y text); create table b(p, q); " \
                       "create index bi on b(q); create view v as select * from a; insert into a select value, " \
                       "printf(\"row %d\", value) from generate_series(1, 3000); insert into b select value, " \
                       "hex(randomblob(20)) from generate_series(1, 2000);'"
#define SQLITE_FREED "sqlite3 OUT.sqlite 'pragma page_size = 512; create table t(a, b); create index ti on t(b); " \
                     "insert into t select value, randomblob(700) from generate_series(1, 100); " \
                     "delete from t where a < 30;'"
#define SQLITE_OLD " && dd if=/dev/zero of=OUT.sqlite bs=1 seek=92 count=4 conv=notrunc 2>/dev/null && " \
                   "test -s OUT.sqlite"
    {"sqlite", "sqlite3 OUT.sqlite 'create table t(a); insert into t values (1), (2);' && test -s OUT.sqlite",
     "sqlite"},
    {"sqlite in wal mode", "sqlite3 OUT.sqlite 'pragma journal_mode = wal; create table t(a, b); insert into t "
                           "select value, randomblob(100) from generate_series(1, 200); delete from t where a < 50;'"
                           " >/dev/null && test -s OUT.sqlite", "sqlite"},
    {"sqlite of several tables and an index", SQLITE_SEVERAL " && test -s OUT.sqlite", "sqlite"},
    {"sqlite with freelist and overflow pages", SQLITE_FREED " && test -s OUT.sqlite", "sqlite"},
    {"sqlite of 64 KiB pages", "sqlite3 OUT.sqlite 'pragma page_size = 65536; create table t(a, b); insert into t "
                               "select value, randomblob(1000) from generate_series(1, 300);' && test -s OUT.sqlite",
     "sqlite"},
    {"sqlite old, several tables", SQLITE_SEVERAL SQLITE_OLD, "sqlite"},
    {"sqlite old, freelist and overflow", SQLITE_FREED SQLITE_OLD, "sqlite"},
#undef SQLITE_SEVERAL
#undef SQLITE_FREED
#undef SQLITE_OLD
    // Windows images by mingw-w64 (64- and 32-bit, with and without symbols),
    // a driver, and one signed by osslsigncode with a throwaway certificate.
#define MAIN "printf 'int main(void){return 0;}' > OUT.c && "
#define LIB "printf 'int f(int x){return x + 1;}' > OUT.c && "
    {"exe 64-bit by mingw", MAIN "x86_64-w64-mingw32-gcc OUT.c -o OUT.exe", "exe"},
    {"exe 32-bit stripped", MAIN "i686-w64-mingw32-gcc -s OUT.c -o OUT.exe", "exe"},
    {"exe with build id", MAIN "x86_64-w64-mingw32-gcc -s -Wl,--build-id OUT.c -o OUT.exe", "exe"},
    {"dll 64-bit stripped", LIB "x86_64-w64-mingw32-gcc -shared -s OUT.c -o OUT.dll", "dll"},
    {"dll 32-bit", LIB "i686-w64-mingw32-gcc -shared OUT.c -o OUT.dll", "dll"},
    {"sys", "printf 'long DriverEntry(void *a, void *b){return 0;}' > OUT.c && x86_64-w64-mingw32-gcc -nostdlib "
            "-Wl,--subsystem,native -Wl,--entry,DriverEntry OUT.c -o OUT.sys", "sys"},
    {"exe signed", MAIN "i686-w64-mingw32-gcc -s OUT.c -o OUT.exe && openssl req -x509 -newkey rsa:2048 -nodes "
                   "-keyout OUT.key -out OUT.crt -days 2 -subj /CN=test 2>/dev/null && osslsigncode sign -certs OUT.crt "
                   "-key OUT.key -in OUT.exe -out OUT.signed.exe", "exe"},
    // ELF files by gcc, and a 32-bit program without libc.
    {"elf program", MAIN "gcc OUT.c -o OUT.elf", "elf"},
    {"elf program stripped", MAIN "gcc -s OUT.c -o OUT.elf", "elf"},
    {"elf shared library", LIB "gcc -shared -fPIC OUT.c -o OUT.so", "so"},
    {"elf object", LIB "gcc -c OUT.c -o OUT.o", "o"},
    {"elf 32-bit", "printf 'void _start(void){for(;;);}' > OUT.c && gcc -m32 -ffreestanding -nostdlib -static "
                   "OUT.c -o OUT.elf", "elf"},
#undef MAIN
#undef LIB
    // (macho files)
    {"7z", "seq 1 30000 > OUT.txt && 7z a -bd OUT.7z OUT.txt && test -s OUT.7z", "7z"},
    {"7z non-solid, plain header", "seq 1 3000 > OUT.a && seq 7 9000 > OUT.b && "
                                   "7zz a -ms=off -mhc=off -bd OUT.7z OUT.a OUT.b && test -s OUT.7z", "7z"},
    {"7z solid stored", "seq 1 3000 > OUT.a && seq 7 9000 > OUT.b && 7zz a -ms=on -mx=0 -bd OUT.7z OUT.a OUT.b && "
                        "test -s OUT.7z", "7z"},
    {"7z encrypted header", "seq 1 3000 > OUT.txt && 7zz a -psecret -mhe=on -bd OUT.7z OUT.txt && test -s OUT.7z",
     "7z"},
    // RAR: no tool in Debian writes it; rar_cases.cpp builds archives by hand.
    {"xz -0", "seq 1 30000 | xz -0 | tee OUT.xz", "xz"},
    {"xz -9 sha256", "seq 1 30000 | xz -9 -C sha256 | tee OUT.xz", "xz"},
    {"xz blocks with sizes", "seq 1 200000 | xz -T2 --block-size=100000 | tee OUT.xz", "xz"},
    {"xz x86 filter no check", "xz -c --x86 --lzma2=preset=1 -C none < /bin/true | tee OUT.xz", "xz"},
    {"xz two streams", "seq 1 1000 | xz > OUT.a && seq 1 2000 | xz > OUT.b && cat OUT.a OUT.b | tee OUT.xz", "xz"},
    {"zstd -1", "seq 1 30000 | zstd -1 -q | tee OUT.zst", "zst"},
    {"zstd -19 of a file", "seq 1 30000 > OUT.txt && zstd -19 -q OUT.txt -o OUT.zst", "zst"},
    {"zstd no check", "seq 1 30000 > OUT.txt && zstd -q --no-check OUT.txt -o OUT.zst", "zst"},
    {"zstd raw blocks", "seq 1 100000 | xz | zstd -q | tee OUT.zst", "zst"},
    {"pzstd of two frames", "seq 1 600000 > OUT.txt && pzstd -q -p 2 -1 OUT.txt -o OUT.zst", "zst"},
    {"lz4 -1", "seq 1 30000 | lz4 -1 -q | tee OUT.lz4", "lz4"},
    {"lz4 -9", "seq 1 30000 | lz4 -9 -q | tee OUT.lz4", "lz4"},
    {"lz4 content size and block checksums", "seq 1 30000 > OUT.txt && lz4 -q --content-size -BX OUT.txt OUT.lz4",
     "lz4"},
    {"lz4 linked blocks", "seq 1 100000 | lz4 -q -BD -B4 | tee OUT.lz4", "lz4"},
    {"lz4 stored blocks", "seq 1 100000 | xz | lz4 -q -B4 | tee OUT.lz4", "lz4"},
    {"gzip -1 of text", "seq 1 40000 > OUT.txt && gzip -1 -c OUT.txt | tee OUT.gz", "gz"},
    {"gzip -9 -n", "seq 1 40000 > OUT.txt && gzip -9 -n -c OUT.txt | tee OUT.gz", "gz"},
    {"gzip of random bytes", "head -c 150000 /dev/urandom > OUT.bin && gzip -c OUT.bin | tee OUT.gz", "gz"},
    {"gzip of two files", "seq 1 9000 > OUT.a && head -c 5000 /dev/urandom > OUT.b && "
                          "gzip -c OUT.a OUT.b | tee OUT.gz", "gz"},
    {"gzip by pigz", "seq 1 60000 > OUT.txt && pigz -c -b 128 OUT.txt | tee OUT.gz", "gz"},
    {"gzip by pigz, independent blocks", "seq 1 60000 > OUT.txt && pigz -c -i -b 128 OUT.txt | tee OUT.gz", "gz"},
    {"gzip by python with a name", "seq 1 30000 > OUT.txt && python3 -c \"import gzip, sys; o = open(sys.argv[1], "
                                   "'wb'); f = gzip.GzipFile('OUT.txt', 'wb', 9, o, 1); f.write(open('OUT.txt', "
                                   "'rb').read()); f.close(); o.close()\" OUT.gz", "gz"},
    {"bzip2 -1 of text", "seq 1 60000 > OUT.txt && bzip2 -1 -c OUT.txt | tee OUT.bz2", "bz2"},
    {"bzip2 -9 of random bytes", "head -c 150000 /dev/urandom > OUT.bin && bzip2 -9 -c OUT.bin | tee OUT.bz2", "bz2"},
    {"bzip2 of two streams", "seq 1 9000 | bzip2 -c > OUT.a && head -c 5000 /dev/urandom | bzip2 -c > OUT.b && "
                             "cat OUT.a OUT.b | tee OUT.bz2", "bz2"},
    {"bzip2 by pbzip2", "seq 1 80000 > OUT.txt && pbzip2 -c -b1 -p2 OUT.txt | tee OUT.bz2", "bz2"},
    {"bzip2 by lbzip2", "seq 1 80000 > OUT.txt && lbzip2 -c -n 2 -1 OUT.txt | tee OUT.bz2", "bz2"},
    // A small tree: two files (one in a subfolder), an empty folder and a
    // symlink; LONG_NAME adds a path of over 100 characters.
#define UNIX_TREE "mkdir -p OUT.d/sub OUT.d/empty && echo hello > OUT.d/a.txt && seq 1 800 > OUT.d/sub/b.txt " \
                  "&& ln -s a.txt OUT.d/link && "
#define LONG_NAME "touch OUT.d/sub/$(printf '%0120d' 0) && "
    {"tar gnu", UNIX_TREE LONG_NAME "tar -C OUT.d -c . -f OUT.tar", "tar"},
    {"tar pax", UNIX_TREE LONG_NAME "tar --format=posix -C OUT.d -c . -f OUT.tar", "tar"},
    {"tar ustar", UNIX_TREE "tar --format=ustar -C OUT.d -c . -f OUT.tar", "tar"},
    {"tar blocking factor 1", UNIX_TREE "tar -b 1 -C OUT.d -c . -f OUT.tar", "tar"},
    {"tar gnu sparse", "mkdir OUT.d && truncate -s 8M OUT.d/s && for i in 1 2 3 4 5 6; do printf x | "
                       "dd of=OUT.d/s bs=1 seek=${i}000000 conv=notrunc status=none; done && "
                       "tar --format=gnu -S -C OUT.d -c s -f OUT.tar", "tar"},
    {"cpio newc", UNIX_TREE "cd OUT.d && find . | cpio --quiet -o -H newc -F OUT.cpio", "cpio"},
    {"cpio crc", UNIX_TREE "cd OUT.d && find . | cpio --quiet -o -H crc -F OUT.cpio", "cpio"},
    {"cpio odc", UNIX_TREE "cd OUT.d && find . | cpio --quiet -o -H odc -F OUT.cpio", "cpio"},
    {"ar of objects", "mkdir OUT.d && cd OUT.d && echo 'int f(void) { return 1; }' > f.c && "
                      "echo 'int g(void) { return 2; }' > g.c && gcc -c f.c g.c && ar rcs x.a f.o g.o && "
                      "mv x.a OUT.a", "a"},
    {"deb", "mkdir -p OUT.d/DEBIAN OUT.d/usr/share/doc/tiny && printf 'Package: tiny\\nVersion: 1.0\\n"
            "Architecture: all\\nMaintainer: A <a@b.c>\\nDescription: tiny\\n' > OUT.d/DEBIAN/control && "
            "echo hello > OUT.d/usr/share/doc/tiny/README && dpkg-deb --root-owner-group --build OUT.d OUT.deb",
     "deb"},
    {"iso rock ridge joliet", UNIX_TREE "genisoimage -quiet -r -J -o OUT.x OUT.d && mv OUT.x OUT.iso", "iso"},
    {"iso udf bridge", UNIX_TREE "genisoimage -quiet -r -udf -o OUT.x OUT.d && mv OUT.x OUT.iso", "iso"},
    {"iso by xorriso", UNIX_TREE "xorriso -as mkisofs -quiet -r OUT.d -o OUT.iso", "iso"},
#undef UNIX_TREE
#undef LONG_NAME
    {"tif uncompressed", "convert rose: -compress none OUT.tif", "tif"},
    {"tif lzw", "convert rose: -compress lzw OUT.tif", "tif"},
    {"tif zip", "convert rose: -compress zip OUT.tif", "tif"},
    {"tif jpeg", "convert rose: -compress jpeg OUT.tif", "tif"},
    {"tif big-endian", "convert rose: -define tiff:endian=msb OUT.tif", "tif"},
    {"tif two pages", "convert rose: logo: OUT.tif", "tif"},
    {"tif tiled", "convert rose: -define tiff:tile-geometry=16x16 OUT.tif", "tif"},
    {"tif strip per row", "convert -size 64x48 gradient: -define tiff:rows-per-strip=1 OUT.tif", "tif"},
    {"bigtiff", "convert rose: TIFF64:OUT0.tif && mv OUT0.tif OUT.tif", "tif"},
    {"bigtiff big-endian by tiffcp", "convert rose: OUT0.tif && tiffcp -8 -B OUT0.tif OUT.tif", "tif"},
    {"tif tiled by tiffcp", "convert rose: OUT0.tif && tiffcp -t -w 16 -l 16 -c lzw OUT0.tif OUT.tif", "tif"},
    {"tif by tiffcrop", "convert rose: OUT0.tif && tiffcrop -U px -z 1,1,40,30 OUT0.tif OUT.tif", "tif"},
    {"psd rle", "convert rose: -compress RLE OUT.psd", "psd"},
    {"psd raw", "convert rose: OUT.psd", "psd"},
    {"psd with a layer", "convert rose: \\( rose: -resize 50% \\) -compress RLE OUT.psd", "psd"},
    {"psd gray 16-bit", "convert -size 40x30 gradient: -colorspace gray OUT.psd", "psd"},
    {"psd cmyk", "convert rose: -colorspace cmyk OUT.psd", "psd"},
    {"psd bitmap", "convert rose: -monochrome -depth 1 OUT.psd", "psd"},
    {"psb", "convert rose: -compress RLE OUT.psb", "psb"},
    {"ico of three sizes", "convert rose: -define icon:auto-resize=16,32,48 OUT.ico", "ico"},
    {"ico of a 256-pixel png", "convert rose: -resize 256x256! OUT.ico", "ico"},
    {"ico of 16 colours", "convert rose: -resize 32x32! -colors 16 OUT.ico", "ico"},
    {"ico by icotool", "convert rose: -resize 32x32! OUT.png && convert rose: -resize 16x16! OUT.16.png && "
                       "icotool -c -r OUT.png OUT.16.png -o OUT.ico", "ico"},
    {"cur", "convert rose: -resize 32x32! OUT.png && icotool -c --cursor --hotspot-x=3 --hotspot-y=5 "
            "OUT.png -o OUT.cur", "cur"},
    {"pbm", "pbmmake -g 100 50 | tee OUT.pbm", "pbm"},
    {"plain pbm", "pbmmake -plain -g 30 20 | tee OUT.pbm", "pbm"},
    {"pgm", "pgmramp -lr 40 30 | tee OUT.pgm", "pgm"},
    {"plain pgm", "pgmramp -lr 40 30 | pnmtopnm -plain | tee OUT.pgm", "pgm"},
    {"pgm of 15 levels", "pgmramp -lr 40 30 | pamdepth 15 | tee OUT.pgm", "pgm"},
    {"ppm", "ppmpat -gingham2 40 30 | tee OUT.ppm", "ppm"},
    {"plain ppm by convert", "convert rose: -compress none OUT.ppm", "ppm"},
    {"ppm of 16 bits", "convert rose: -depth 16 OUT.ppm", "ppm"},
    {"ppm of three images", "ppmpat -gingham2 40 30 > OUT.1 && cat OUT.1 OUT.1 OUT.1 | tee OUT.ppm", "ppm"},
    {"pam", "convert rose: OUT.pam", "pam"},
    {"pam by netpbm", "ppmpat -gingham2 40 30 | pamtopam | tee OUT.pam", "pam"},
    {"tga", "convert rose: OUT.tga", "tga"},
    {"tga rle", "convert rose: -compress RLE OUT.tga", "tga"},
    {"tga gray", "convert rose: -colorspace gray OUT.tga", "tga"},
    {"tga gray rle", "convert rose: -colorspace gray -compress RLE OUT.tga", "tga"},
    {"tga colour-mapped", "convert rose: -type palette OUT.tga", "tga"},
    {"tga colour-mapped rle", "convert rose: -type palette -compress RLE OUT.tga", "tga"},
    {"tga with alpha", "convert rose: -alpha on OUT.tga", "tga"},
    {"tga by ppmtotga", "ppmpat -gingham2 40 30 | ppmtotga -rgb 2>/dev/null | tee OUT.tga", "tga"},
    {"tga colour-mapped rle by ppmtotga", "ppmpat -gingham2 40 30 | ppmtotga 2>/dev/null | tee OUT.tga", "tga"},
// GIMP in batch mode: a Script-Fu expression, then quit; some seconds each.
#define GIMP_BATCH(script) \
    "gimp-console -i -d -f -b '" script "' -b '(gimp-quit 0)' >/dev/null 2>&1 && test -s OUT.xcf"
    {"xcf", "convert rose: OUT.png && " GIMP_BATCH(
                "(let* ((i (car (gimp-file-load RUN-NONINTERACTIVE \"OUT.png\" \"OUT.png\"))))"
                " (gimp-xcf-save 0 i (car (gimp-image-get-active-layer i)) \"OUT.xcf\" \"OUT.xcf\"))"),
     "xcf"},
    {"xcf with layers, a mask and a channel", GIMP_BATCH(
         "(let* ((i (car (gimp-image-new 150 70 RGB)))"
         " (a (car (gimp-layer-new i 150 70 RGB-IMAGE \"a\" 100 LAYER-MODE-NORMAL)))"
         " (b (car (gimp-layer-new i 40 30 RGBA-IMAGE \"b\" 50 LAYER-MODE-NORMAL))))"
         " (gimp-image-insert-layer i a 0 0) (gimp-image-insert-layer i b 0 0)"
         " (gimp-drawable-fill a FILL-WHITE) (gimp-drawable-fill b FILL-FOREGROUND)"
         " (gimp-layer-add-mask a (car (gimp-layer-create-mask a ADD-MASK-WHITE)))"
         " (gimp-image-insert-channel i (car (gimp-channel-new i 150 70 \"c\" 50 (list 255 0 0))) 0 0)"
         " (gimp-xcf-save 0 i a \"OUT.xcf\" \"OUT.xcf\"))"),
     "xcf"},
#undef GIMP_BATCH
    {"sh script", "printf '#!/bin/sh\\n# counts\\nfor n in 1 2 3; do\\n  echo \"line $n\"\\ndone\\nexit 0\\n' | tee OUT.sh",
     "sh"},
    {"python script", "printf '#!/usr/bin/env python3\\nimport sys\\n\\nprint(\"h\\303\\251llo\", sys.argv[1:])\\n' "
                      "| tee OUT.py", "py"},
    {"json indented", "python3 -c 'import json; print(json.dumps({\"name\": \"h\\u00e9\", \"list\": [1, 2.5, "
                      "-3e5, True, None, {\"k\": \"v\\n\"}], \"empty\": [[], {}]}, indent=2))' | tee OUT.json", "json"},
    {"json compact", "python3 -c 'import json; print(json.dumps([{\"id\": i, \"tags\": [\"x\", \"y\"], "
                     "\"ok\": i % 2 == 0} for i in range(9)], separators=(\",\", \":\")))' | tee OUT.json", "json"},
    {"json by ImageMagick", "convert -size 4x4 xc:red OUT.json", "json"},
    {"xml by xmllint", "printf '<root><a x=\"1\">t</a><b/><!-- c --><![CDATA[<x>]]><c>caf\\303\\251</c></root>' "
                       "| xmllint --format - | tee OUT.xml", "xml"},
    {"svg by python", "python3 -c 'import sys, xml.etree.ElementTree as E; s = E.Element(\"svg\", "
                      "xmlns=\"http://www.w3.org/2000/svg\", width=\"8\", height=\"8\"); E.SubElement(s, \"rect\", "
                      "width=\"3\", height=\"3\"); E.ElementTree(s).write(sys.argv[1], xml_declaration=True, "
                      "encoding=\"utf-8\")' OUT.svg", "svg"},
    // Run in the test's folder: ImageMagick writes an image map beside it there.
    {"xhtml by ImageMagick", "cd \"$(dirname OUT.html)\" && convert -size 4x4 xc:red OUT.html", "html"},
    {"rtf by enscript", "printf 'Hello {world}\\nback\\\\slash\\n' | enscript -q --language=rtf -o OUT.rtf", "rtf"},
    {"ps by enscript", "printf 'Hello\\nworld\\n' | enscript -q -p OUT.ps", "ps"},
    {"ps by groff", "printf '.TL\\nHello\\n.PP\\nSome text.\\n' | groff -Tps | tee OUT.ps", "ps"},
    {"eps by ghostscript", "printf '.TL\\nHello\\n.PP\\nSome text.\\n' | groff -Tps > OUT.ps && "
                           "gs -q -sDEVICE=eps2write -o OUT.eps OUT.ps && test -s OUT.eps", "eps"},
    {"eml by python", "python3 -c 'import sys; from email.message import EmailMessage as M; m = M(); "
                      "m[\"From\"] = \"a@example.org\"; m[\"To\"] = \"b@example.org\"; m[\"Subject\"] = \"Hi\"; "
                      "m[\"Date\"] = \"Thu, 01 Jan 1970 00:00:00 +0000\"; m.set_content(\"Hello,\\nbye\\n\"); "
                      "m.add_attachment(bytes(range(256)), maintype=\"application\", subtype=\"x\"); "
                      "sys.stdout.buffer.write(bytes(m))' | tee OUT.eml", "eml"},
    {"mbox by python", "python3 -c 'import sys, mailbox; from email.message import EmailMessage as M; m = M(); "
                       "m[\"From\"] = \"a@example.org\"; m[\"To\"] = \"b@example.org\"; m[\"Subject\"] = \"Hi\"; "
                       "m.set_content(\"Hello,\\nFrom here on\\n\"); b = mailbox.mbox(sys.argv[1]); b.add(m); "
                       "b.add(m); b.flush()' OUT.mbox", "mbox"},
};

#undef VIDEO
#undef TONE
#undef FF

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that start no item: a counter pattern without magics.
Bytes Filler(size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
    return bytes;
}

struct Hit {
    uint64_t offset, size;
    std::string extension;
};

// Detect at every position, past each item once found, as the host scans.
std::vector<Hit> FindAll(const Bytes& data) {
    FakeReader reader(data);
    std::vector<Hit> hits;
    for (uint64_t at = 0; at < data.size(); ++at) {
        FoundItem item = PoisonedItem();
        if (formathound::Detect(reader.reader(), at, &item) != 1) continue;
        hits.push_back({item.offset, item.size, item.extension});
        if (item.size > 0) at += item.size - 1;
    }
    return hits;
}

class ToolMadeFiles : public testing::TestWithParam<MadeFile> {
protected:
    Bytes Make(const MadeFile& file) {
        std::string command = file.command;
        const std::string out = dir_.path() + "/out";
        for (size_t at; (at = command.find("OUT")) != std::string::npos;) command.replace(at, 3, out);
        const std::string path = command.substr(command.rfind(' ') + 1);
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
            ADD_FAILURE() << "failed: " << command << " (scripts/setup.sh installs the tools)";
            return {};
        }
        return ReadFile(path);
    }
    TempDir dir_;
};

TEST_P(ToolMadeFiles, FoundWholeAmongOtherBytesAndNotWholeWhenCut) {
    const Bytes file = Make(GetParam());
    ASSERT_GT(file.size(), 64u);

    Bytes data = Filler(1000);
    data.insert(data.end(), file.begin(), file.end());
    const Bytes after = Filler(777);
    data.insert(data.end(), after.begin(), after.end());
    const std::vector<Hit> hits = FindAll(data);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].offset, 1000u);
    EXPECT_EQ(hits[0].size, file.size());
    EXPECT_EQ(hits[0].extension, GetParam().extension);

    // Cut short, it may end earlier, never at its full size or past the cut.
    for (const size_t cut : {file.size() - 1, file.size() / 2, size_t{40}}) {
        const Bytes part(file.begin(), file.begin() + cut);
        FakeReader reader(part);
        FoundItem item = PoisonedItem();
        if (formathound::Detect(reader.reader(), 0, &item) == 1) {
            EXPECT_LT(item.size, file.size()) << "cut at " << cut;
            EXPECT_LE(item.size, cut) << "cut at " << cut;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ToolMadeFiles, testing::ValuesIn(kFiles),
                         [](const testing::TestParamInfo<MadeFile>& info) {
                             std::string name;
                             for (const char* c = info.param.label; *c; ++c) {
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             }
                             return name;
                         });

}  // namespace
