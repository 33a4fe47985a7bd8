// Evidence images made at test time by their own tools from one raw image:
// each must give the raw image's items, digests and extracted bytes, with
// offsets in the media; damaged and unreadable ones are told, not scanned
// as bytes in silence.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

using nlohmann::json;

constexpr size_t kMiB = size_t{1} << 20;

class EvidenceImages : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"ewfacquire", "qemu-img", "split"}) {
            if (Shell(std::string("command -v ") + tool + " >/dev/null") != 0) {
                GTEST_SKIP() << "SKIPPED: " << tool << " is missing (scripts/setup.sh installs it)";
            }
        }
        // Three copies of the sample, one across the first MiB (a segment
        // and a piece boundary below) and one across the fourth (a window
        // of the paged media).
        CopySignatureLibrary(plugins_);
        const std::vector<uint8_t> sample = ReadBytes(std::string(HOUND_SOURCE_DIR) + "/examples/sample.img");
        Image image(5 * kMiB, 0);
        for (size_t at : {size_t{0}, kMiB - 102400, 4 * kMiB - 153600}) image.Put(at, sample);
        raw_ = image.Save(Path("disk.raw"));
        raw_run_ = Scan({raw_, "--out", Path("out-raw")});
        ASSERT_EQ(raw_run_.exit_code, 0) << raw_run_.err;
        ASSERT_EQ(Lines(raw_run_.out).size(), 24u);
    }
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    HoundRun Scan(std::vector<std::string> args) {
        args.insert(args.begin(), "scan");
        args.insert(args.end(), {"--plugins", plugins_, "--json", "-q"});
        return RunHound(args);
    }
    // Makes an image with command, run in the test's folder.
    void Make(const std::string& command) {
        ASSERT_EQ(Shell("cd " + ShellQuote(dir_.path()) + " && " + command + " >/dev/null 2>&1"), 0) << command;
    }

    TempDir dir_;
    std::string plugins_ = PluginFolder(dir_.path() + "/plugins", {"jpeghound", "photohound", "formathound", "markhound"});
    std::string raw_;
    HoundRun raw_run_;
};

TEST_F(EvidenceImages, EachKindGivesTheRawImagesItemsAndBytes) {
    struct Row {
        const char* kind;
        const char* make;   // from disk.raw
        const char* input;  // what is scanned
        const char* container;
        size_t segments;
    };
    const Row rows[] = {
        {"E01, compressed, one segment", "ewfacquire -u -q -t one -c best -S 64MiB disk.raw", "one.E01", "EWF", 1},
        {"E01, uncompressed, several segments", "ewfacquire -u -q -t several -c none -S 1MiB disk.raw",
         "several.E01", "EWF", 6},
        {"raw split into pieces", "split -b 1M -d -a 3 --numeric-suffixes=1 disk.raw piece.", "piece.001",
         "split raw", 5},
        {"raw split into pieces of part pages", "split -b 1000000 disk.raw odd.", "odd.aa", "split raw", 6},
        {"VMDK", "qemu-img convert -f raw -O vmdk disk.raw disk.vmdk", "disk.vmdk", "VMDK", 1},
        {"VHD", "qemu-img convert -f raw -O vpc disk.raw disk.vhd", "disk.vhd", "VHD", 1},
    };
    const std::vector<std::string> raw_lines = Lines(raw_run_.out);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        Make(row.make);
        const std::string out = Path(std::string("out-") + row.input);
        const std::string dfxml = Path(std::string(row.input) + ".xml");
        const HoundRun run = Scan({Path(row.input), "--out", out, "--dfxml", dfxml});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_EQ(lines.size(), raw_lines.size()) << run.out;
        for (size_t i = 0; i < lines.size(); ++i) {
            json item = json::parse(lines[i]);
            json raw_item = json::parse(raw_lines[i]);
            EXPECT_EQ(item["container"], row.container);
            EXPECT_EQ(item["file"], Path(row.input));
            for (json* object : {&item, &raw_item}) {
                object->erase("file");
                object->erase("container");
                object->erase("extracted");
            }
            EXPECT_EQ(item, raw_item);
        }
        // The same files with the same bytes, under the input's own names.
        std::vector<std::string> raw_files, files;
        for (const std::string& name : FilesBelow(Path("out-raw"))) {
            if (name.find("disk.raw-") != std::string::npos) raw_files.push_back(name);
        }
        for (const std::string& name : FilesBelow(out)) {
            if (name.find(std::string(row.input) + "-") != std::string::npos) files.push_back(name);
        }
        ASSERT_EQ(files.size(), raw_files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(ReadBytes(out + "/" + files[i]), ReadBytes(Path("out-raw") + "/" + raw_files[i])) << files[i];
        }
        // The report names the container and its files; an E01 gives the
        // digest it recorded of the media, the raw image's own.
        std::string xml, md5;
        ASSERT_EQ(Shell("cat " + ShellQuote(dfxml), &xml), 0);
        EXPECT_NE(xml.find(std::string("<hound:container format=\"") + row.container + "\">"), std::string::npos);
        size_t segments = 0;
        for (size_t at = xml.find("<hound:segment>"); at != std::string::npos; at = xml.find("<hound:segment>", at + 1)) {
            ++segments;
        }
        EXPECT_EQ(segments, row.segments);
        if (std::string(row.container) == "EWF") {
            ASSERT_EQ(Shell("md5sum < " + ShellQuote(raw_) + " | cut -c1-32", &md5), 0);
            EXPECT_NE(xml.find("<hashdigest type=\"md5\">" + md5.substr(0, 32) + "</hashdigest>"), std::string::npos);
        }
    }
    // A range of the media, as of the raw image.
    Make("ewfacquire -u -q -t ranged -c fast -S 64MiB disk.raw");
    const HoundRun ranged = Scan({Path("ranged.E01"), "--range", "1000000:5000000"});
    const HoundRun raw_ranged = Scan({raw_, "--range", "1000000:5000000"});
    ASSERT_EQ(ranged.exit_code, 0) << ranged.err;
    ASSERT_EQ(Lines(ranged.out).size(), Lines(raw_ranged.out).size());
    EXPECT_EQ(json::parse(Lines(ranged.out)[0])["offset"], json::parse(Lines(raw_ranged.out)[0])["offset"]);
}

TEST_F(EvidenceImages, DamagedOrUnreadableImagesAreToldInOneLine) {
    Make("ewfacquire -u -q -t several -c none -S 1MiB disk.raw && rm several.E03");
    Make("split -b 1M -d -a 3 --numeric-suffixes=1 disk.raw piece. && rm piece.002");
    Make("qemu-img convert -f raw -O qcow2 disk.raw disk.qcow2");
    struct Row {
        const char* input;
        const char* told;
        int exit_code;
        size_t at_most;  // items found
    };
    const Row rows[] = {
        {"several.E01", "segment files of", 1, 23},
        {"piece.001", "where its piece", 1, 23},
        {"disk.qcow2", "which hound cannot read; --raw scans its bytes as they are", 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        const HoundRun run = Scan({Path(row.input)});
        EXPECT_EQ(run.exit_code, row.exit_code);
        EXPECT_NE(run.err.find(row.told), std::string::npos) << run.err;
        EXPECT_LE(Lines(run.out).size(), row.at_most);
    }
    // --raw takes the image's own bytes: the QCOW file holds the sample's
    // clusters as they are, so the items are found in it.
    const HoundRun raw = Scan({Path("disk.qcow2"), "--raw"});
    EXPECT_EQ(raw.exit_code, 0) << raw.err;
    EXPECT_GT(Lines(raw.out).size(), 0u);
}

}  // namespace
