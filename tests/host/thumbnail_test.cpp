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
    // Red above, blue below; the camera thumbnails are lime.
    const auto two = [](int w, int h) {
        return " -size " + std::to_string(w) + "x" + std::to_string(h) + " xc:red -fill blue -draw 'rectangle 0," +
               std::to_string(h / 2) + " " + std::to_string(w) + "," + std::to_string(h) + "' ";
    };
    ASSERT_EQ(Shell("cd " + d + " && convert" + two(800, 600) + "plain.jpg && cp plain.jpg exif.jpg &&"
                    " cp plain.jpg small-exif.jpg && convert -size 160x120 xc:lime lime.jpg &&"
                    " convert -size 40x30 xc:lime tiny.jpg &&"
                    " exiftool -q -overwrite_original '-ThumbnailImage<=lime.jpg' exif.jpg &&"
                    " exiftool -q -overwrite_original '-ThumbnailImage<=tiny.jpg' small-exif.jpg &&"
                    " convert" + two(900, 700) + "-interlace JPEG progressive.jpg &&"
                    " convert" + two(1000, 20) + "wide.png &&"
                    " convert" + two(400, 300) + "-interlace PNG interlaced.png &&"
                    " convert" + two(300, 300) + "-interlace GIF interlaced.gif &&"
                    " convert" + two(500, 400) + "-type truecolor picture.bmp"),
              0);
    struct Row {
        const char* file;
        const char* extension;
        const char* top;  // the colour of the thumbnail's first and last pixels
        const char* bottom;
    };
    const Row rows[] = {
        {"plain.jpg", "jpg", "red", "blue"},
        {"exif.jpg", "jpg", "lime", "lime"},        // the camera's thumbnail
        {"small-exif.jpg", "jpg", "red", "blue"},  // too small: the picture
        {"progressive.jpg", "jpg", "red", "blue"},
        {"wide.png", "png", "red", "blue"},
        {"interlaced.png", "png", "red", "blue"},
        {"interlaced.gif", "gif", "red", "blue"},
        {"picture.bmp", "bmp", "red", "blue"},
    };
    const auto colour = [](const std::string& bytes) {
        int r = -1, g = -1, b = -1;
        if (std::sscanf(bytes.c_str(), "%d %d %d", &r, &g, &b) != 3) return std::string("unreadable: ") + bytes;
        if (r > 180 && g < 80 && b < 80) return std::string("red");
        if (r < 80 && g > 180 && b < 80) return std::string("lime");
        if (r < 80 && g < 80 && b > 180) return std::string("blue");
        return std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::vector<uint8_t> bytes = ReadBytes(dir.path() + "/" + row.file);
        std::vector<uint8_t> jpeg;
        // Cut in its header: no thumbnail.
        EXPECT_FALSE(MakeThumbnail(bytes.data(), 100, row.extension, &jpeg));
        ASSERT_TRUE(MakeThumbnail(bytes.data(), bytes.size(), row.extension, &jpeg));
        WriteBytes(dir.path() + "/thumb.jpg", jpeg);
        std::string size, first, last;
        const std::string pnm = "cd " + d + " && djpeg -pnm thumb.jpg";
        ASSERT_EQ(Shell(pnm + " | head -2 | tail -1", &size), 0);
        int width = 0, height = 0;
        ASSERT_EQ(std::sscanf(size.c_str(), "%d %d", &width, &height), 2) << size;
        EXPECT_LE(std::max(width, height), kThumbnailSide);
        ASSERT_EQ(Shell(pnm + " | { read m; read s; read x; head -c 3; } | od -An -tu1", &first), 0);
        ASSERT_EQ(Shell(pnm + " | tail -c 3 | od -An -tu1", &last), 0);
        EXPECT_EQ(colour(first), row.top);
        EXPECT_EQ(colour(last), row.bottom);
    }
}

}  // namespace
