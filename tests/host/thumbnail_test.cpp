// Gallery thumbnails of pictures made by their own tools: each comes out as
// a small JPEG of the picture's colour; a camera's Exif thumbnail stands for
// a JPEG when it is large enough; a picture cut in its header gives none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/report/thumbnail.h"
#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

TEST(Thumbnails, ShowThePictureInItsColour) {
    if (Shell("command -v convert >/dev/null && command -v exiftool >/dev/null && command -v djpeg >/dev/null") != 0) {
        GTEST_SKIP() << "SKIPPED: ImageMagick, exiftool or djpeg is missing (scripts/setup.sh installs them)";
    }
    TempDir dir;
    const std::string d = ShellQuote(dir.path());
    ASSERT_EQ(Shell("cd " + d + " && convert -size 800x600 xc:blue plain.jpg && cp plain.jpg exif.jpg &&"
                    " cp plain.jpg small-exif.jpg && convert -size 160x120 xc:red red.jpg &&"
                    " convert -size 40x30 xc:red tiny.jpg &&"
                    " exiftool -q -overwrite_original '-ThumbnailImage<=red.jpg' exif.jpg &&"
                    " exiftool -q -overwrite_original '-ThumbnailImage<=tiny.jpg' small-exif.jpg &&"
                    " convert -size 1000x20 xc:lime wide.png && convert -size 300x300 xc:blue interlaced.gif &&"
                    " convert -size 500x400 xc:red -type truecolor picture.bmp"),
              0);
    struct Row {
        const char* file;
        const char* extension;
        int red, green, blue;  // the thumbnail's colour, each within 60
    };
    const Row rows[] = {
        {"plain.jpg", "jpg", 0, 0, 255},
        {"exif.jpg", "jpg", 255, 0, 0},       // the camera's thumbnail
        {"small-exif.jpg", "jpg", 0, 0, 255},  // too small: the picture
        {"wide.png", "png", 0, 255, 0},
        {"interlaced.gif", "gif", 0, 0, 255},
        {"picture.bmp", "bmp", 255, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::vector<uint8_t> bytes = ReadBytes(dir.path() + "/" + row.file);
        std::vector<uint8_t> jpeg;
        // Cut in its header: no thumbnail.
        EXPECT_FALSE(MakeThumbnail(bytes.data(), 100, row.extension, &jpeg));
        ASSERT_TRUE(MakeThumbnail(bytes.data(), bytes.size(), row.extension, &jpeg));
        WriteBytes(dir.path() + "/thumb.jpg", jpeg);
        std::string size, pixel;
        ASSERT_EQ(Shell("cd " + d + " && djpeg -pnm thumb.jpg | head -2 | tail -1", &size), 0);
        int width = 0, height = 0;
        ASSERT_EQ(std::sscanf(size.c_str(), "%d %d", &width, &height), 2) << size;
        EXPECT_LE(std::max(width, height), kThumbnailSide);
        ASSERT_EQ(Shell("cd " + d + " && djpeg -pnm thumb.jpg | tail -c 3 | od -An -tu1", &pixel), 0);
        int r = -1, g = -1, b = -1;
        ASSERT_EQ(std::sscanf(pixel.c_str(), "%d %d %d", &r, &g, &b), 3) << pixel;
        EXPECT_NEAR(r, row.red, 60);
        EXPECT_NEAR(g, row.green, 60);
        EXPECT_NEAR(b, row.blue, 60);
    }
}

}  // namespace
