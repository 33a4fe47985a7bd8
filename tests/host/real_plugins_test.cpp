// hound with the real plug-ins: markhound on a test signature library,
// photohound on encoded JPEGs, and the bundled sample image, with the
// default order, against its list of items.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint64_t k4G = uint64_t{1} << 32;

// The signatures of the test library; the default library may change.
const char* const kTestSigns = R"([Sized item]
Signature='S,'Z,'D,'!
SizeOff=4
SizeSize=4
Ext=szd

[Short item]
Signature='T,'S,'T,'!
SizeOff=4
SizeSize=2
SizeAddon=6
Ext=tst

[Bounded item]
SignatureStart='B,'E,'G,'!
SignatureEnd='E,'N,'D,'!
EndOffset=4
Ext=bnd

[BMP picture]
Signature='B,'M
SizeOff=2
SizeSize=4
Ext=bmp

[RIFF WAVE sound]
Signature='R,'I,'F,'F,?,?,?,?,'W,'A,'V,'E
SizeOff=4
SizeSize=4
SizeAddon=8
Ext=wav

[GIF picture]
SignatureStart=0x47,0x49,0x46,0x38,?,0x61
SignatureEnd=0,0x3B
EndOffset=2
Ext=gif

[PNG picture]
SignatureStart=0x89,0x50,0x4E,0x47,0x0D,0x0A,0x1A,0x0A
SignatureEnd=0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82
EndOffset=8
Ext=png
)";

// The smallest stream photohound accepts: SOI, a frame header, EOI.
const std::vector<uint8_t> kTinyJpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01,
                                        0x00, 0x01, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};

std::vector<uint8_t> Sized(const char* magic, uint32_t size, size_t length, int width = 4) {
    std::vector<uint8_t> bytes(magic, magic + 4);
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(size >> (8 * i)));
    bytes.resize(std::max(length, bytes.size()), 0x11);
    return bytes;
}

std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

struct Found {
    uint64_t offset, size;
    std::string ext, plugin;
    bool truncated;
    bool operator==(const Found& o) const {
        return offset == o.offset && size == o.size && ext == o.ext && plugin == o.plugin &&
               truncated == o.truncated;
    }
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << "{" << f.offset << ", " << f.size << ", " << f.ext << ", " << f.plugin << ", "
               << f.truncated << "}";
}

std::vector<Found> FoundItems(const HoundRun& run) {
    std::vector<Found> found;
    for (const std::string& line : Lines(run.out)) {
        const json object = json::parse(line);
        found.push_back({object["offset"], object["size"], object["ext"], object["plugin"],
                         object["truncated"]});
    }
    return found;
}

class RealPlugins : public ::testing::Test {
protected:
    void SetUp() override {
        plugins_ = PluginFolder(dir_.path() + "/plugins", {"jpeghound", "photohound", "formathound", "markhound"});
        dir_.Write("plugins/signs.ini", kTestSigns);
    }
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    HoundRun Scan(std::vector<std::string> args) {
        args.insert(args.begin(), "scan");
        // The plug-ins' own answers: the test JPEGs hold no image data.
        args.insert(args.end(), {"--plugins", plugins_, "--json", "-q", "--no-check"});
        if (!order_.empty()) args.insert(args.end(), {"--order", order_});
        return RunHound(args);
    }

    TempDir dir_;
    std::string plugins_;
    // photohound first: the tiny streams below are its; empty for the default order.
    std::string order_ = "photohound,markhound";
};

TEST_F(RealPlugins, SignaturesAndJpegsAtKnownOffsets) {
    Image image(2000);
    image.Put(100, Sized("SZD!", 64, 64));
    image.Put(164, Sized("TST!", 26, 32, 2));  // right behind, 26 + 6 bytes
    image.Put(500, Text("BEG!...................END!"));
    image.Put(800, kTinyJpeg);
    image.Put(817, kTinyJpeg);  // adjacent JPEGs
    image.Put(2000 - 40, Sized("SZD!", 40, 40));  // ends with the file
    const std::string input = image.Save(Path("mixed.img"));
    const HoundRun run = Scan({input, "--out", Path("out")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<Found> expected = {
        {100, 64, "szd", "markhound", false},  {164, 32, "tst", "markhound", false},
        {500, 27, "bnd", "markhound", false},  {800, 17, "jpg", "photohound", false},
        {817, 17, "jpg", "photohound", false}, {1960, 40, "szd", "markhound", false},
    };
    EXPECT_EQ(FoundItems(run), expected);
    EXPECT_EQ(ReadBytes(Path("out/jpg/mixed.img-0000000000000331.jpg")), kTinyJpeg);
    EXPECT_EQ(ReadBytes(Path("out/szd/mixed.img-00000000000007a8.szd")), Slice(image.bytes(), 1960, 40));
}

TEST_F(RealPlugins, TruncatedJpegIsNotReported) {
    // The walk runs into the FF C4 past the end instead of reading on.
    std::vector<uint8_t> jpeg = kTinyJpeg;
    jpeg.resize(jpeg.size() - 2);
    Image image(200);
    image.Put(200 - jpeg.size(), jpeg);
    const HoundRun run = Scan({image.Save(Path("cut.img"))});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(FoundItems(run).empty()) << run.out;
}

TEST_F(RealPlugins, NestedScanningFindsTheJpegInsideASizedItem) {
    Image image(400);
    std::vector<uint8_t> outer = Sized("SZD!", 100, 100);
    std::copy(kTinyJpeg.begin(), kTinyJpeg.end(), outer.begin() + 40);
    image.Put(50, outer);
    const std::string input = image.Save(Path("nested.img"));
    const std::vector<Found> flat = {{50, 100, "szd", "markhound", false}};
    EXPECT_EQ(FoundItems(Scan({input})), flat);
    const std::vector<Found> nested = {{50, 100, "szd", "markhound", false},
                                       {90, 17, "jpg", "photohound", false}};
    EXPECT_EQ(FoundItems(Scan({input, "--nested"})), nested);
}

TEST_F(RealPlugins, FileOverFourGibibytes) {
    // Sparse; a sized item near the start reaches to just below 2^32, so the
    // scan skips the hole; the other items lie across and beyond 2^32.
    const uint64_t size = k4G + 0x10000;
    const std::string input = Path("big.img");
    std::ofstream(input, std::ios::binary).close();
    fs::resize_file(input, size);
    const struct {
        uint64_t offset;
        std::vector<uint8_t> bytes;
    } puts[] = {
        {0x10, Sized("SZD!", static_cast<uint32_t>(k4G - 0x60), 8)},
        {k4G - 0x20, Sized("TST!", 0x3A, 6, 2)},
        {k4G + 0x100, kTinyJpeg},
        {k4G + 0x200, Text("BEG!" + std::string(0x30, '.') + "END!")},
        {size - 0x20, Sized("SZD!", 0x20, 8)},
    };
    {
        std::fstream file(input, std::ios::binary | std::ios::in | std::ios::out);
        for (const auto& put : puts) {
            file.seekp(static_cast<std::streamoff>(put.offset));
            file.write(reinterpret_cast<const char*>(put.bytes.data()),
                       static_cast<std::streamsize>(put.bytes.size()));
        }
        ASSERT_TRUE(file.good());
    }
    const HoundRun run = Scan({input, "--dfxml", Path("big.xml")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<Found> expected = {
        {0x10, k4G - 0x60, "szd", "markhound", false},
        {k4G - 0x20, 0x40, "tst", "markhound", false},
        {k4G + 0x100, 17, "jpg", "photohound", false},
        {k4G + 0x200, 0x38, "bnd", "markhound", false},
        {size - 0x20, 0x20, "szd", "markhound", false},
    };
    EXPECT_EQ(FoundItems(run), expected);
    // The report keeps the offsets beyond 2^32 whole, in decimal.
    const std::vector<uint8_t> xml = ReadBytes(Path("big.xml"));
    const std::string text(xml.begin(), xml.end());
    EXPECT_NE(text.find("<byte_run offset=\"0\" img_offset=\"4294967552\" len=\"17\"/>"), std::string::npos);
    EXPECT_NE(text.find("<filename>jpg/big.img-0000000100000100.jpg</filename>"), std::string::npos);
    EXPECT_EQ(Shell("xmllint --noout " + ShellQuote(Path("big.xml"))), 0);
}

struct TruthItem {
    uint64_t offset, size;
    std::string type;
};

std::vector<TruthItem> ReadTruth(const std::string& path) {
    std::ifstream in(path);
    std::vector<TruthItem> items;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        TruthItem item;
        fields >> item.offset >> item.size >> item.type;
        items.push_back(item);
    }
    return items;
}

TEST_F(RealPlugins, SampleImageGivesExactlyItsListedItems) {
    const std::string sample = std::string(HOUND_SOURCE_DIR) + "/examples/sample.img";
    const std::vector<TruthItem> truth = ReadTruth(std::string(HOUND_SOURCE_DIR) + "/examples/sample.truth");
    ASSERT_EQ(truth.size(), 8u);
    order_.clear();
    const HoundRun run = Scan({sample, "--out", Path("out"), "--dfxml", Path("sample.xml")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<Found> found = FoundItems(run);
    ASSERT_EQ(found.size(), truth.size()) << run.out;
    const std::vector<uint8_t> bytes = ReadBytes(sample);
    for (size_t i = 0; i < truth.size(); ++i) {
        SCOPED_TRACE(truth[i].offset);
        EXPECT_EQ(found[i].offset, truth[i].offset);
        EXPECT_EQ(found[i].size, truth[i].size);
        EXPECT_EQ(found[i].ext, truth[i].type);
        const std::string type = truth[i].type;
        const bool media = type == "ogg" || type == "mp4";
        EXPECT_EQ(found[i].plugin, type == "jpg" ? "jpeghound" : media ? "formathound" : "markhound");
        EXPECT_FALSE(found[i].truncated);
        char name[64];
        std::snprintf(name, sizeof name, "/%s/sample.img-%016llx.%s", truth[i].type.c_str(),
                      static_cast<unsigned long long>(truth[i].offset), truth[i].type.c_str());
        EXPECT_EQ(ReadBytes(Path("out") + name), Slice(bytes, truth[i].offset, truth[i].size));
    }
    EXPECT_EQ(Shell("xmllint --noout " + ShellQuote(Path("sample.xml"))), 0);
}

TEST_F(RealPlugins, MarkhoundWithoutSignaturesIsNotedOnce) {
    fs::remove(Path("plugins/signs.ini"));
    Image image(300);
    image.Put(100, kTinyJpeg);
    const std::string input = image.Save(Path("x.img"));
    const HoundRun run = Scan({input, input});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Lines(run.err), (std::vector<std::string>{"hound: note: markhound: cannot read '" +
                                                            Path("plugins/signs.ini") +
                                                            "': No such file or directory",
                                                        "hound: note: markhound answered Initialize with 0 "
                                                        "(nothing to detect with); it is not asked"}));
    EXPECT_EQ(FoundItems(run).size(), 2u);
}

// A signature file of the user's, with an include beside it: markhound and
// the candidate filter read it through --signs, and neither reads it without.
TEST_F(RealPlugins, SignatureFileGivenWithSignsIsUsedAndOnlyThen) {
    dir_.Write("case/signs-of-case.ini", "[Case]\nInclude=more\\case-item.ini\n");
    dir_.Write("case/more/case-item.ini", "[Case item]\nSignature='C,'A,'S,'E\nSizeOff=4\nSizeSize=4\nExt=cas\n");
    Image image(3000);
    image.Put(700, Sized("CASE", 64, 64));
    image.Put(1500, Sized("SZD!", 32, 32));
    const std::string input = image.Save(Path("case.img"));
    const std::string signs = Path("case/signs-of-case.ini");

    const std::vector<Found> custom = {{700, 64, "cas", "markhound", false}};
    for (const char* mode : {"", "--exhaustive"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> args = {input, "--signs", signs};
        if (*mode != '\0') args.push_back(mode);
        const HoundRun run = Scan(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(FoundItems(run), custom);
    }
    EXPECT_EQ(FoundItems(Scan({input})), (std::vector<Found>{{1500, 32, "szd", "markhound", false}}));

    // The private folder of the run is made in TMPDIR and gone at exit.
    fs::create_directories(Path("tmp"));
    const HoundRun in_tmp = RunHound({"scan", input, "--signs", signs, "--plugins", plugins_, "--json", "-q"},
                                     "export TMPDIR=" + ShellQuote(Path("tmp")) + ";");
    EXPECT_EQ(FoundItems(in_tmp), custom);
    EXPECT_TRUE(fs::is_empty(Path("tmp")));
    const HoundRun no_tmp = RunHound({"scan", input, "--signs", signs, "--plugins", plugins_, "-q"},
                                     "export TMPDIR=" + ShellQuote(Path("no-such")) + ";");
    EXPECT_EQ(no_tmp.exit_code, 2);
    EXPECT_NE(no_tmp.err.find(Path("no-such")), std::string::npos) << no_tmp.err;

    // A file that gives nothing: the summary line of hound signs, nothing scanned.
    dir_.Write("case/empty.ini", "[Nothing]\nExt=x\n");
    const HoundRun empty = Scan({input, "--signs", Path("case/empty.ini")});
    EXPECT_EQ(empty.exit_code, 2);
    EXPECT_EQ(empty.out, "");
    std::string summary;
    Shell(ShellQuote(HOUND_BINARY) + " signs " + ShellQuote(Path("case/empty.ini")) + " | tail -n 1", &summary);
    EXPECT_EQ(empty.err, "hound: --signs '" + Path("case/empty.ini") + "': " + summary);
    const HoundRun missing = Scan({input, "--signs", Path("case/missing.ini")});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_EQ(Lines(missing.err).size(), 1u) << missing.err;
}

TEST_F(RealPlugins, AnIncludedFileThatCannotBeReadIsTold) {
    // Root reads any file: then hound runs as nobody, with a folder and
    // plug-ins that anybody may read and an included file that only root may.
    std::string prefix;
    if (geteuid() == 0) {
        if (Shell("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv to drop root";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    }
    dir_.Write("plugins/signs.ini", std::string(kTestSigns) + "[secret]\nInclude=secret.ini\n");
    dir_.Write("plugins/secret.ini", "[Secret item]\nSignature='S,'E,'C,'!\nSizeOff=4\nSizeSize=4\nExt=sec\n");
    fs::permissions(Path("plugins/secret.ini"), fs::perms::owner_read | fs::perms::owner_write);
    for (const std::string& folder : {dir_.path(), plugins_}) {
        fs::permissions(folder, fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    }
    Image image(300);
    image.Put(10, Sized("SZD!", 64, 64));
    image.Put(100, Sized("SEC!", 64, 64));
    const std::string input = image.Save(Path("x.img"));
    fs::permissions(input, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const HoundRun run = RunHound({"scan", input, "--plugins", plugins_, "--json", "-q", "--no-check"}, prefix);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Lines(run.err), (std::vector<std::string>{"hound: note: markhound: " + Path("plugins/secret.ini") +
                                                        ": the file cannot be opened (Permission denied), so "
                                                        "it gives nothing"}));
    EXPECT_EQ(FoundItems(run), (std::vector<Found>{{10, 64, "szd", "markhound", false}}));
}

TEST_F(RealPlugins, WhatTheSignatureLoaderPassesOverIsToldOneLineEach) {
    std::string signs = std::string(kTestSigns) + "[gone]\nInclude=nothere.ini\n[none]\nExt=x\n[;off]\nExt=y\n";
    // Sections enough that their names overflow the 1024-byte name block.
    for (int i = 0; i < 40; ++i) {
        signs += "[padding section with a long name, number " + std::to_string(i) +
                 "]\nSignature='P,'A,'D," + std::to_string(i) + "\nSizeOff=4\nSizeSize=1\n";
    }
    dir_.Write("plugins/signs.ini", signs);
    Image image(300);
    image.Put(100, Sized("SZD!", 64, 64));
    const HoundRun run = Scan({image.Save(Path("x.img"))});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::string file = "hound: note: markhound: " + Path("plugins/signs.ini");
    const std::vector<std::string> lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 4u) << run.err;
    EXPECT_EQ(lines[0].rfind(file + " [padding section with a long name, number ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" after it are not read: their names lie beyond the 1024-byte name block"),
              std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], file + " [gone]: include not found: '" + Path("plugins/nothere.ini") + "' does not exist");
    EXPECT_EQ(lines[2], file + " [none]: none of Include, Signature and SignatureStart has a value");
    EXPECT_NE(lines[3].find("the 1024-byte name block ends inside the name [padding section"), std::string::npos)
        << lines[3];
    EXPECT_EQ(FoundItems(run), (std::vector<Found>{{100, 64, "szd", "markhound", false}}));
}

}  // namespace

namespace {

// How often text occurs in dom.
size_t Count(const std::string& dom, const std::string& text) {
    size_t count = 0;
    for (size_t at = dom.find(text); at != std::string::npos; at = dom.find(text, at + text.size())) ++count;
    return count;
}

// Chromium's path; "" where it is missing.
std::string Browser() {
    std::string browser;
    if (Shell("command -v chromium || command -v chromium-browser", &browser) != 0) return "";
    return browser.substr(0, browser.find('\n'));
}

// The gallery page of an --out folder as headless Chromium leaves it once its
// scripts have run and its pictures loaded. screenshot, when given, keeps a
// picture of the page there.
std::string PageInBrowser(const std::string& page, const std::string& hash, const std::string& screenshot = "") {
    const std::string run = ShellQuote(Browser()) + " --headless --no-sandbox --disable-gpu --no-first-run "
                            "--virtual-time-budget=3000 --window-size=1400,4000 ";
    const std::string url = ShellQuote("file://" + page + hash);
    if (!screenshot.empty()) Shell(run + "--screenshot=" + ShellQuote(screenshot) + " " + url + " >/dev/null 2>&1");
    std::string dom;
    Shell(run + "--dump-dom " + url + " 2>/dev/null", &dom);
    return dom;
}

}  // namespace

// The page of the sample's --out folder, opened as a user opens it: every
// item once, a thumbnail loaded for each picture, the counts per type those
// of the JSON lines, and the type filter in the address showing that type alone.
TEST_F(RealPlugins, GalleryShowsEverySampleItemInABrowser) {
    if (Browser().empty()) GTEST_SKIP() << "SKIPPED: no Chromium here (scripts/setup.sh installs it)";
    order_.clear();
    const HoundRun run = Scan({std::string(HOUND_SOURCE_DIR) + "/examples/sample.img", "--out", Path("out")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::map<std::string, size_t> types;
    size_t pictures = 0;
    for (const Found& item : FoundItems(run)) {
        ++types[item.ext];
        pictures += item.ext == "jpg" || item.ext == "png" || item.ext == "gif" || item.ext == "bmp";
    }
    ASSERT_EQ(types.size(), 7u);
    const std::string page = Path("out/index.html");
    const std::string dom = PageInBrowser(page, "", fs::current_path() / "gallery-sample.png");
    EXPECT_EQ(Count(dom, "class=\"item\""), FoundItems(run).size()) << dom;
    EXPECT_EQ(Count(dom, "data-loaded=\"yes\""), pictures) << dom;
    EXPECT_EQ(Count(dom, "data-loaded=\"no\""), 0u);
    for (const auto& [type, count] : types) {
        EXPECT_EQ(Count(dom, "data-type=\"" + type + "\" data-count=\"" + std::to_string(count) + "\""), 1u) << type;
    }
    const std::string jpegs = PageInBrowser(page, "#type=jpg");
    EXPECT_EQ(Count(jpegs, "id=\"shown\" data-count=\"" + std::to_string(types["jpg"]) + "\""), 1u) << jpegs;
    EXPECT_EQ(Count(jpegs, "class=\"item\""), types["jpg"]);
    EXPECT_EQ(Count(jpegs, "class=\"item\" data-type=\"jpg\""), types["jpg"]);
}

// Names and texts that are markup or script, from a signature file and an
// input's name, show as text: nothing of them runs or becomes an element.
TEST_F(RealPlugins, GalleryShowsHostileNamesAsText) {
    if (Browser().empty()) GTEST_SKIP() << "SKIPPED: no Chromium here (scripts/setup.sh installs it)";
    const std::string script = "<script>document.title='pwned'</script>";
    dir_.Write("hostile.ini", "[\"'><img src=x onerror=\"document.title='pwned'\">" + script +
                                  "]\nSignature='H,'O,'S,'T\nSizeOff=4\nSizeSize=4\nExt=x\"><b>\n");
    Image image(400);
    image.Put(100, Sized("HOST", 64, 64));
    const std::string input = image.Save(Path("in\n<b onmouseover=x>'\".img"));
    const HoundRun run = Scan({input, "--signs", Path("hostile.ini"), "--out", Path("out")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ASSERT_EQ(FoundItems(run).size(), 1u) << run.out;
    const std::string dom = PageInBrowser(Path("out/index.html"), "");
    EXPECT_EQ(Count(dom, "<title>hound: recovered items</title>"), 1u) << dom;
    EXPECT_EQ(Count(dom, "pwned</title>"), 0u);
    EXPECT_EQ(Count(dom, "<img src=\"x\""), 0u);
    EXPECT_EQ(Count(dom, "class=\"item\""), 1u);
    EXPECT_EQ(Count(dom, "&lt;script&gt;document.title='pwned'&lt;/script&gt;"), 1u) << dom;
    EXPECT_EQ(Count(dom, "&lt;b onmouseover=x&gt;"), 1u);
}
