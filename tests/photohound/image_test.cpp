// Images encoded by cjpeg at test time: accepted ones are found at their
// offset inside other bytes with their exact size; progressive and restart
// interval images are rejected where their first scan's data ends.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "tests/photohound/detect_run.h"

namespace {

namespace fs = std::filesystem;

// A fresh temporary folder, removed with its contents.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "photohound-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (fs::path(path_) / name).string(); }
    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
};

testing::AssertionResult ToolPresent(const char* tool) {
    const std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << tool << " not found on PATH: these tests need "
                                       << "libjpeg-turbo-progs (scripts/setup.sh installs it)";
}

testing::AssertionResult Run(const std::string& command) {
    if (std::system(command.c_str()) == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "failed: " << command;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A PPM (or PGM) picture: gradients with noise, so that the entropy-coded
// data holds many FF bytes.
Bytes Picture(int width, int height, bool gray) {
    const int channels = gray ? 1 : 3;
    const std::string header = std::string(gray ? "P5" : "P6") + "\n" + std::to_string(width) +
                               " " + std::to_string(height) + "\n255\n";
    Bytes bytes(header.begin(), header.end());
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                noise = noise * 1103515245u + 12345u;
                bytes.push_back(static_cast<uint8_t>(x * (3 + c) + y * 5 + (noise >> 26)));
            }
        }
    }
    return bytes;
}

// Runs cjpeg with options on a fresh picture; empty on failure.
Bytes Encode(const ScratchFolder& dir, const std::string& options, int width, int height,
             bool gray = false) {
    const std::string in = dir.File("in.pnm"), out = dir.File("out.jpg");
    WriteFile(in, Picture(width, height, gray));
    const testing::AssertionResult ran = Run("cjpeg " + options + " -outfile " + out + " " + in);
    EXPECT_TRUE(ran);
    return ran ? ReadFile(out) : Bytes();
}

Bytes WithComment(const ScratchFolder& dir, const Bytes& image, const Bytes& comment) {
    const std::string in = dir.File("plain.jpg"), text = dir.File("comment.bin"),
                      out = dir.File("commented.jpg");
    WriteFile(in, image);
    WriteFile(text, comment);
    const testing::AssertionResult ran = Run("wrjpgcom -cfile " + text + " " + in + " > " + out);
    EXPECT_TRUE(ran);
    return ran ? ReadFile(out) : Bytes();
}

void PutLE(Bytes& bytes, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Offset of the thumbnail inside the APP1 segment built by ExifApp1.
constexpr size_t kThumbnailInApp1 = 4 + 6 + 44;

// APP1 "Exif\0\0" with a little-endian TIFF header, an empty IFD0 and an
// IFD1 that points at the thumbnail JPEG stored behind it.
Bytes ExifApp1(const Bytes& thumbnail) {
    Bytes tiff = {'I', 'I', 0x2A, 0x00};
    PutLE(tiff, 8, 4);   // IFD0
    PutLE(tiff, 0, 2);   // no entries
    PutLE(tiff, 14, 4);  // IFD1
    PutLE(tiff, 2, 2);
    // JPEGInterchangeFormat and JPEGInterchangeFormatLength, one LONG each.
    PutLE(tiff, 0x0201, 2);
    PutLE(tiff, 4, 2);
    PutLE(tiff, 1, 4);
    PutLE(tiff, 44, 4);
    PutLE(tiff, 0x0202, 2);
    PutLE(tiff, 4, 2);
    PutLE(tiff, 1, 4);
    PutLE(tiff, static_cast<uint32_t>(thumbnail.size()), 4);
    PutLE(tiff, 0, 4);  // no further IFD
    const Bytes body = Cat({{'E', 'x', 'i', 'f', 0, 0}, tiff, thumbnail});
    return Segment(0xE1, body);
}

// Bytes that hold no FF, so that no position among them starts a walk.
Bytes Filler(size_t count, uint8_t seed) {
    Bytes bytes;
    for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>((i * 7 + seed) % 0xFF));
    return bytes;
}

// Every position of data at which Detect answers 1, with the sizes.
std::map<uint64_t, uint64_t> FindAll(const Bytes& data) {
    FakeReader reader(data, 0, {0xFF, 0xC4});
    std::map<uint64_t, uint64_t> found;
    for (uint64_t at = 0; at < data.size(); ++at) {
        FoundItem item = PoisonedItem();
        if (Detect(reader.reader(), at, &item) == 1) found[item.offset] = item.size;
        reader.ClearCalls();
    }
    return found;
}

// Where the first scan's data of a well-formed image runs into a marker
// other than EOI: the position of that marker's code byte. Segments are
// followed by their lengths, independently of the walk.
size_t FirstScanEnd(const Bytes& image) {
    size_t at = 2;
    while (at + 4 <= image.size() && image[at] == 0xFF) {
        const uint8_t code = image[at + 1];
        const size_t length = image[at + 2] << 8 | image[at + 3];
        at += 2 + length;
        if (code == 0xDA) break;
    }
    for (; at + 1 < image.size(); ++at) {
        if (image[at] == 0xFF && image[at + 1] != 0x00) return at + 1;
    }
    return image.size();
}

struct Encoded {
    const char* label;
    Bytes image;
    std::map<uint64_t, uint64_t> expected;  // offsets within the image -> sizes
};

TEST(RealImages, AcceptedImagesAreFoundWithTheirExactSize) {
    ASSERT_TRUE(ToolPresent("cjpeg"));
    ASSERT_TRUE(ToolPresent("wrjpgcom"));
    ScratchFolder dir;
    ASSERT_TRUE(dir.ok());

    const Bytes baseline = Encode(dir, "", 97, 61);
    const Bytes optimized = Encode(dir, "-optimize", 97, 61);
    const Bytes gray = Encode(dir, "-grayscale", 83, 45, true);
    const Bytes commented =
        WithComment(dir, Encode(dir, "-quality 90", 64, 40), {'a', 0xFF, 0xD9, 0xFF, 0xDA, 'z'});
    const Bytes thumbnail = Encode(dir, "-quality 50", 16, 12);
    const Bytes with_exif = Cat({Soi(), ExifApp1(thumbnail), Bytes(baseline.begin() + 2,
                                                                  baseline.end())});
    for (const Bytes* image : {&baseline, &optimized, &gray, &commented, &thumbnail}) {
        ASSERT_GT(image->size(), 100u);
    }
    const Encoded images[] = {
        {"baseline", baseline, {{0, baseline.size()}}},
        {"optimised", optimized, {{0, optimized.size()}}},
        {"grayscale", gray, {{0, gray.size()}}},
        {"comment with FF D9 FF DA", commented, {{0, commented.size()}}},
        // The thumbnail inside APP1 is an image of its own, but its EOI does
        // not end the outer one.
        {"EXIF thumbnail",
         with_exif,
         {{0, with_exif.size()}, {2 + kThumbnailInApp1, thumbnail.size()}}},
    };
    for (const Encoded& encoded : images) {
        SCOPED_TRACE(encoded.label);
        const Bytes prefix = Filler(777, 3), suffix = Filler(300, 9);
        const Bytes data = Cat({prefix, encoded.image, suffix});

        const DetectRun run = RunDetect(data, 0, prefix.size(), kMaxWalkBytes);
        ASSERT_EQ(run.answer, 1u);
        EXPECT_EQ(run.item.offset, prefix.size());
        EXPECT_EQ(run.item.size, encoded.image.size());
        EXPECT_EQ(run.reads, Positions(prefix.size(), encoded.image.size()));

        std::map<uint64_t, uint64_t> expected;
        for (const auto& [offset, size] : encoded.expected) expected[prefix.size() + offset] = size;
        EXPECT_EQ(FindAll(data), expected);
    }
}

TEST(RealImages, ProgressiveAndRestartImagesAreRejectedAtTheirFirstScanEnd) {
    ASSERT_TRUE(ToolPresent("cjpeg"));
    ScratchFolder dir;
    ASSERT_TRUE(dir.ok());
    const struct {
        const char* label;
        Bytes image;
        uint8_t first_code, second_code;  // markers that may end the first scan
    } images[] = {
        {"progressive", Encode(dir, "-progressive", 97, 61), 0xC4, 0xDA},
        {"restart every MCU row", Encode(dir, "-restart 1", 97, 61), 0xD0, 0xD0},
        {"restart every 4 MCUs", Encode(dir, "-restart 4B -grayscale", 83, 45, true), 0xD0, 0xD0},
    };
    for (const auto& encoded : images) {
        SCOPED_TRACE(encoded.label);
        ASSERT_GT(encoded.image.size(), 100u);
        const size_t end = FirstScanEnd(encoded.image);
        ASSERT_LT(end + 2, encoded.image.size());  // the first scan is not the last thing
        const uint8_t code = encoded.image[end];
        EXPECT_TRUE(code == encoded.first_code || code == encoded.second_code) << int(code);
        const Bytes prefix = Filler(123, 5);
        const Bytes data = Cat({prefix, encoded.image, Filler(50, 1)});

        const DetectRun run = RunDetect(data, 0, prefix.size(), kMaxWalkBytes);
        EXPECT_EQ(run.answer, 0u);
        EXPECT_TRUE(SameItem(run.item, PoisonedItem()));
        EXPECT_EQ(run.reads, Positions(prefix.size(), end + 1));
        EXPECT_TRUE(FindAll(data).empty());
    }
}

}  // namespace
