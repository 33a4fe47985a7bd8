// The default signature library: it loads whole, every signature in it has a
// row here, and each row's real file, made by the format's own tool and put
// among other bytes, is found at its place with its exact size.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "markhound/database/load_observer.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "tests/fakes/fake_reader.h"
#include "tests/fakes/temp_dir.h"
#include "tests/signs/tool_files.h"

namespace {

const std::string kLibrary = WindowsPath(std::string(HOUND_SIGNS_DIR) + "/signs.ini");

// One real file: the section that must report it, and the tool that makes it.
struct FormatRow {
    const char* section;
    const char* ext;
    const char* tool;
    const char* package;
    const char* command;  // run in a folder holding the inputs below
    const char* output;
    // Bytes reported past the file when it ends the data: an end pattern that
    // would end with the data's last byte is not found, and the item then
    // runs to the end of the data plus EndOffset.
    uint64_t overrun_at_data_end = 0;
};

// Inputs the commands may use: two texts and a one-page PostScript program.
const char kShortText[] = "hello\n";
const char kPage[] =
    "%!PS\n/Helvetica findfont 14 scalefont setfont\n"
    "72 720 moveto (A page for the signature library.) show\nshowpage\n";

std::string LongText() {
    std::string text;
    for (int i = 1; i <= 400; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
    return text;
}

const FormatRow kRows[] = {
    {"BMP picture", "bmp", "convert", "imagemagick",
     "convert -size 33x17 gradient:red-blue item.bmp", "item.bmp"},
    {"BMP picture", "bmp", "convert", "imagemagick",
     "convert -size 5x3 xc:green BMP3:item.bmp", "item.bmp"},
    {"WebP picture", "webp", "convert", "imagemagick",
     "convert -size 40x30 gradient:red-blue item.webp", "item.webp"},
    {"WebP picture", "webp", "convert", "imagemagick",
     "convert -size 40x30 gradient:red-blue -define webp:lossless=true item.webp", "item.webp"},
    {"WebP picture", "webp", "convert", "imagemagick",  // with alpha: an extended (VP8X) file
     "convert -size 40x30 gradient:red-blue -alpha set -channel A -evaluate set 50% item.webp",
     "item.webp"},
    {"GIF picture", "gif", "convert", "imagemagick",
     "convert -size 32x32 pattern:checkerboard item.gif", "item.gif", 2},
    {"GIF picture", "gif", "convert", "imagemagick",
     "convert -size 32x32 pattern:checkerboard GIF87:item.gif", "item.gif", 2},
    {"PNG picture", "png", "convert", "imagemagick",
     "convert -size 40x30 gradient:red-blue item.png", "item.png"},
    {"MNG animation", "mng", "convert", "imagemagick",
     "convert -size 16x16 xc:red xc:blue item.mng", "item.mng"},
    {"WAV sound", "wav", "sox", "sox",
     "sox -n -r 8000 -c 1 -b 16 item.wav synth 0.05 sine 440", "item.wav"},
    {"WAV sound", "wav", "sox", "sox",
     "sox -n -r 11025 -c 2 -b 8 item.wav synth 0.01 sine 300", "item.wav"},
    {"Wave64 sound", "w64", "sox", "sox",
     "sox -n -r 8000 -c 2 -b 16 item.w64 synth 0.05 sine 440", "item.w64"},
    {"PDF document", "pdf", "gs", "ghostscript",
     "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile=item.pdf page.ps",
     "item.pdf"},
    {"ZIP archive", "zip", "zip", "zip", "zip -q -X item.zip short.txt long.txt", "item.zip"},
    {"ZIP archive", "zip", "zip", "zip", "zip -q -X -0 item.zip short.txt long.txt", "item.zip"},
    {"Cabinet archive", "cab", "gcab", "gcab", "gcab -c item.cab short.txt long.txt", "item.cab"},
    {"Cabinet archive", "cab", "gcab", "gcab", "gcab -z -c item.cab short.txt long.txt",
     "item.cab"},
};

// Records every loader event but the ordinary ones, each as a line.
class UnusualEvents : public LoadObserver {
public:
    void OnLoadEvent(const LoadReport& report) override {
        switch (report.event) {
            case LoadEvent::kFileRead:
            case LoadEvent::kIncludeFound:
                return;
            case LoadEvent::kSignatureAdded:
                ++added;
                return;
            default:
                break;
        }
        lines.push_back(Name(report.event) + " in " +
                        Text(report.file) + " [" + Text(report.section) + "] " +
                        Text(report.key) + " " + Text(report.text) + " " + Text(report.text2));
    }
    std::vector<std::string> lines;
    int added = 0;

private:
    static std::string Text(const char* text) { return text ? text : "-"; }
    static std::string Name(LoadEvent event) {
        switch (event) {
            case LoadEvent::kFileMissing: return "file missing";
            case LoadEvent::kSectionsCut: return "section names cut";
            case LoadEvent::kSectionOff: return "section switched off";
            case LoadEvent::kSectionNoKind: return "section defines nothing";
            case LoadEvent::kValueCut: return "value cut";
            case LoadEvent::kTokenIgnored: return "token ignored";
            case LoadEvent::kIncludeMissing: return "include missing";
            case LoadEvent::kIncludeCycle: return "include cycle";
            case LoadEvent::kIncludeTooDeep: return "include too deep";
            case LoadEvent::kSizedPending: return "sized signature pending";
            case LoadEvent::kPendingDropped: return "pending signature dropped";
            case LoadEvent::kBoundedEmpty: return "bounded start pattern empty";
            case LoadEvent::kOutOfMemory: return "out of memory";
            default: return "event " + std::to_string(static_cast<int>(event));
        }
    }
};

class SignsLibrary : public testing::Test {
protected:
    static void SetUpTestSuite() {
        list_ = new SignatureList;
        LoadSignatureFile(kLibrary.c_str(), *list_);
    }
    static void TearDownTestSuite() {
        delete list_;
        list_ = nullptr;
    }
    static SignatureList* list_;
};
SignatureList* SignsLibrary::list_ = nullptr;

// Other bytes around an item: random bytes and plain text, in blocks.
std::vector<uint8_t> Junk(size_t size, uint32_t seed) {
    static const char kText[] = "Minutes of the meeting, item 4: the budget stays as it is. ";
    std::mt19937 random(seed);
    std::vector<uint8_t> junk;
    while (junk.size() < size) {
        if (random() % 2) {
            junk.insert(junk.end(), kText, kText + sizeof kText - 1);
        } else {
            for (int i = 0; i < 97; ++i) junk.push_back(static_cast<uint8_t>(random()));
        }
    }
    junk.resize(size);
    return junk;
}

TEST(SignsLibraryLoad, EverySectionYieldsWhatItDefines) {
    UnusualEvents events;
    SignatureList list;
    LoadSignatureFile(kLibrary.c_str(), list, &events);
    for (const std::string& line : events.lines) ADD_FAILURE() << line;
    EXPECT_TRUE(events.lines.empty()) << "the library has sections that are passed over";
    EXPECT_GT(list.Count(), 0) << "no signature loaded from " << kLibrary;
    EXPECT_EQ(events.added, list.Count());
}

TEST_F(SignsLibrary, EverySignatureHasARealFileRow) {
    std::set<std::string> rows;
    for (const FormatRow& row : kRows) rows.insert(row.section);
    std::set<std::string> loaded;
    for (int32_t i = 0; i < list_->Count(); ++i) {
        const SizedSignature* signature = list_->Signature(i);
        EXPECT_TRUE(loaded.insert(signature->name.text).second)
            << "two signatures named " << signature->name.text;
        EXPECT_EQ(rows.count(signature->name.text), 1u)
            << "no real file checks the signature " << signature->name.text;
    }
    for (const std::string& section : rows) {
        EXPECT_EQ(loaded.count(section), 1u) << "the library has no signature " << section;
    }
}

// The item sits after junk at a known offset, with more junk behind it or
// none; the data may begin above 2^32.
struct Placement {
    uint64_t base;
    size_t junk_before;
    size_t junk_after;
};

const Placement kPlacements[] = {
    {0, 1237, 611},
    {(uint64_t{1} << 32) + 5, 2048, 97},
    {0, 301, 0},
};

TEST_F(SignsLibrary, FindsEachRealFileAtItsPlaceWithItsSize) {
    ASSERT_GT(list_->Count(), 0) << "no signature loaded from " << kLibrary;
    uint32_t seed = 1;
    for (const FormatRow& row : kRows) {
        SCOPED_TRACE(std::string(row.section) + ": " + row.command);
        TempDir folder;
        folder.Write("short.txt", kShortText);
        folder.Write("long.txt", LongText());
        folder.Write("page.ps", kPage);
        const ToolOutput made =
            MakeWithTool(folder.path(), row.tool, row.package, row.command, row.output);
        if (!made.ok) {
            ADD_FAILURE() << made.message;
            continue;
        }
        for (const Placement& place : kPlacements) {
            SCOPED_TRACE("base " + std::to_string(place.base) + ", item at +" +
                         std::to_string(place.junk_before));
            std::vector<uint8_t> data = Junk(place.junk_before, seed++);
            data.insert(data.end(), made.bytes.begin(), made.bytes.end());
            const std::vector<uint8_t> after = Junk(place.junk_after, seed++);
            data.insert(data.end(), after.begin(), after.end());
            FakeReader reader(data, place.base);
            const uint64_t at = place.base + place.junk_before;

            for (uint64_t position = place.base; position < at; ++position) {
                FoundItem item = PoisonedItem();
                if (DetectWithList(*list_, reader.reader(), position, &item) != 0) {
                    ADD_FAILURE() << "false " << item.description << " at +"
                                  << position - place.base << " in the junk";
                    break;
                }
            }

            FoundItem item = PoisonedItem();
            if (DetectWithList(*list_, reader.reader(), at, &item) != 1) {
                ADD_FAILURE() << "nothing found at the item's offset";
                continue;
            }
            EXPECT_EQ(item.offset, at);
            const uint64_t overrun = place.junk_after == 0 ? row.overrun_at_data_end : 0;
            EXPECT_EQ(item.size, made.bytes.size() + overrun);
            EXPECT_STREQ(item.extension, row.ext);
            EXPECT_STREQ(item.description, row.section);
        }
    }
}

}  // namespace
