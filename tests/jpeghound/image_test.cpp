// Real images made at test time by cjpeg, jpegtran, ImageMagick and
// exiftool: each found inside other bytes with its exact size, and each cut
// short or with a broken header field rejected.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/fakes/temp_dir.h"
#include "tests/jpeghound/strict_run.h"

namespace {

using jpeghound::JpegReject;

testing::AssertionResult RunTool(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "failed: " << command
                                       << " (scripts/setup.sh installs the tools)";
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A PPM picture with gradients and noise, so that the entropy-coded data
// holds many FF bytes.
void WritePicture(const std::string& path, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    uint32_t noise = 12345;
    for (int i = 0; i < width * height * 3; ++i) {
        noise = noise * 1103515245u + 12345u;
        out.put(static_cast<char>((i % (width * 3)) * 3 + (i / (width * 3)) * 5 + (noise >> 26)));
    }
}

// Bytes that hold no FF, so that no position among them starts a walk.
Bytes Filler(size_t count, uint8_t seed) {
    Bytes bytes;
    for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>((i * 7 + seed) % 0xFF));
    return bytes;
}

// Offset of the first segment with the code, found by following the
// segment lengths from SOI; 0 when none comes before the first scan's data.
size_t SegmentAt(const Bytes& image, uint8_t code) {
    for (size_t at = 2; at + 4 <= image.size() && image[at] == 0xFF;) {
        if (image[at + 1] == code) return at;
        if (image[at + 1] == 0xDA) break;
        at += 2 + (image[at + 2] << 8 | image[at + 3]);
    }
    return 0;
}

size_t FindBytes(const Bytes& data, const Bytes& part, size_t from) {
    return std::search(data.begin() + from, data.end(), part.begin(), part.end()) - data.begin();
}

struct Made {
    std::string label;
    Bytes image;
};

class RealImages : public testing::Test {
protected:
    void SetUp() override {
        WritePicture(File("in.ppm"), 97, 61);
        WritePicture(File("small.ppm"), 24, 16);
    }
    std::string File(const std::string& name) const { return dir_.path() + "/" + name; }
    // Runs the command, which writes out.jpg; its bytes.
    Bytes Make(const std::string& command) {
        std::remove(File("out.jpg").c_str());
        EXPECT_TRUE(RunTool(command));
        return ReadFile(File("out.jpg"));
    }
    Bytes Cjpeg(const std::string& options, const std::string& in = "in.ppm") {
        return Make("cjpeg " + options + " -outfile " + File("out.jpg") + " " + File(in));
    }
    Bytes Jpegtran(const std::string& options) {
        return Make("jpegtran " + options + " -outfile " + File("out.jpg") + " " + File("base.jpg"));
    }

    TempDir dir_;
};

TEST_F(RealImages, FoundWithExactSizeAndRejectedWhenCutOrBroken) {
    const Bytes base = Cjpeg("-quality 85");
    std::ofstream(File("base.jpg"), std::ios::binary)
        .write(reinterpret_cast<const char*>(base.data()), static_cast<std::streamsize>(base.size()));
    const Bytes thumbnail = Cjpeg("-quality 60", "small.ppm");
    std::ofstream(File("thumb.jpg"), std::ios::binary)
        .write(reinterpret_cast<const char*>(thumbnail.data()),
               static_cast<std::streamsize>(thumbnail.size()));
    const Made images[] = {
        {"baseline", base},
        {"optimised", Cjpeg("-optimize")},
        {"progressive", Cjpeg("-progressive")},
        {"restart every row", Cjpeg("-restart 1")},
        {"restart every 4 MCUs, grayscale", Cjpeg("-restart 4B -grayscale")},
        {"arithmetic", Cjpeg("-arithmetic")},
        {"arithmetic progressive", Cjpeg("-arithmetic -progressive")},
        {"16-bit quantisation tables", Cjpeg("-quality 3")},
        {"jpegtran progressive", Jpegtran("-progressive")},
        {"jpegtran restart", Jpegtran("-restart 2 -optimize -copy none")},
        {"CMYK", Make("convert " + File("in.ppm") + " -colorspace CMYK " + File("out.jpg"))},
        {"EXIF thumbnail", Make("exiftool -q -o " + File("out.jpg") + " \"-ThumbnailImage<=" +
                                File("thumb.jpg") + "\" " + File("base.jpg"))},
    };
    const Bytes prefix = Filler(777, 3), suffix = Filler(300, 9);
    for (const Made& made : images) {
        SCOPED_TRACE(made.label);
        const Bytes& image = made.image;
        ASSERT_GT(image.size(), 200u);
        const Bytes data = Cat({prefix, image, suffix});

        std::map<uint64_t, uint64_t> expected = {{prefix.size(), image.size()}};
        // The thumbnail inside APP1 is an image of its own.
        const size_t inner = FindBytes(image, thumbnail, 2);
        if (made.label == "EXIF thumbnail") {
            ASSERT_LT(inner, image.size());
            expected[prefix.size() + inner] = thumbnail.size();
        }
        EXPECT_EQ(FindAllStrict(data), expected);

        // Cut short: at EOI, in the middle and in the headers.
        for (size_t cut : {image.size() - 1, image.size() / 2, size_t{40}}) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const Bytes short_data = Cat({prefix, Bytes(image.begin(), image.begin() + cut)});
            EXPECT_EQ(RunStrict(short_data, 0, prefix.size()).reason, JpegReject::kPastDataEnd);
            const StrictRun followed = RunStrict(Cat({short_data, suffix}), 0, prefix.size());
            EXPECT_EQ(followed.answer, 0u);
        }

        // A frame header with P of 9, a scan header with Ns of 0.
        const size_t frame = std::max({SegmentAt(image, 0xC0), SegmentAt(image, 0xC1),
                                       SegmentAt(image, 0xC2), SegmentAt(image, 0xC9),
                                       SegmentAt(image, 0xCA)});
        const size_t scan = SegmentAt(image, 0xDA);
        ASSERT_GT(frame, 0u);
        ASSERT_GT(scan, frame);
        Bytes broken = data;
        broken[prefix.size() + frame + 4] = 9;
        EXPECT_EQ(RunStrict(broken, 0, prefix.size()).reason, JpegReject::kFrameHeader);
        broken = data;
        broken[prefix.size() + scan + 4] = 0;
        EXPECT_EQ(RunStrict(broken, 0, prefix.size()).reason, JpegReject::kScanHeader);
    }
}

}  // namespace
