// Files made at test time by the formats' own tools (ffmpeg, sox, flac,
// lame, oggenc, opusenc): each found inside other bytes with its exact size
// and extension, and none found whole once cut short.
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
    // (ole2 files)
    // (sqlite files)
    // (pe files)
    // (elf files)
    // (macho files)
    // (seven_zip files)
    // (rar files)
    // (xz files)
    // (zstd files)
    // (lz4 files)
    // (gzip files)
    // (bzip2 files)
    // (tar files)
    // (cpio files)
    // (ar files)
    // (iso9660 files)
    // (tiff files)
    // (psd files)
    // (ico files)
    // (netpbm files)
    // (tga files)
    // (xcf files)
    // (text files)
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
