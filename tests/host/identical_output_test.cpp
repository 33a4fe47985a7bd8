// The built hound gives the same table, JSON lines, DFXML report, extracted
// files and audit on one thread asking everywhere as with filters on any
// number of threads, on an image of several chunks with files across the
// chunk boundary and one file whose size runs over it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/scan/scan.h"
#include "tests/fakes/temp_dir.h"
#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

// Lines of a report without those that name the run rather than its
// results: the command line, the start and the time taken.
std::string RunIndependent(const std::string& text) {
    std::string kept;
    for (const std::string& line : Lines(text)) {
        if (line.find("<command_line>") != std::string::npos ||
            line.find("<start_time>") != std::string::npos || line.rfind("command:", 0) == 0 ||
            line.rfind("started:", 0) == 0 || line.rfind("time taken:", 0) == 0) {
            continue;
        }
        kept += line + "\n";
    }
    return kept;
}

struct Output {
    std::string table, json, dfxml, audit;
    std::vector<std::string> files;
    std::vector<std::vector<uint8_t>> contents;
};

// Each run works in a folder of its own, with the same relative names for
// its outputs, so that the paths in the reports agree.
Output Scan(const TempDir& dir, const std::string& image, const std::string& plugins,
            const std::string& name, const std::vector<std::string>& flags, bool table) {
    Output output;
    std::vector<std::string> args = {"scan", image, "--plugins", plugins, "--quiet"};
    args.insert(args.end(), flags.begin(), flags.end());
    if (table) {
        HoundRun run = RunHound(args);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        output.table = run.out;
    }
    const std::string folder = dir.Write(name + "/.keep", "");
    const std::string here = folder.substr(0, folder.size() - 6);
    const std::string out = here + "/out";
    const std::string dfxml = here + "/report.xml";
    args.insert(args.end(), {"--json", "--out", "out", "--dfxml", "report.xml"});
    HoundRun json = RunHound(args, "cd " + ShellQuote(here) + " &&");
    EXPECT_EQ(json.exit_code, 0) << json.err;
    output.json = json.out;
    const std::vector<uint8_t> report = ReadBytes(dfxml);
    output.dfxml = RunIndependent(std::string(report.begin(), report.end()));
    const std::vector<uint8_t> audit = ReadBytes(out + "/audit.txt");
    output.audit = RunIndependent(std::string(audit.begin(), audit.end()));
    output.files = FilesBelow(out);
    for (const std::string& file : output.files) {
        // The audit names the time taken; it is compared above without it.
        if (file != "audit.txt") output.contents.push_back(ReadBytes(out + "/" + file));
    }
    return output;
}

TEST(IdenticalOutput, ThreadsAndFiltersChangeNoByteOfAnyOutput) {
    TempDir dir;
    // The sample's six files (JPEG, PNG, GIF, BMP, WAV) on both sides of
    // the chunk boundary, amid spaces.
    const std::vector<uint8_t> sample = ReadBytes(std::string(HOUND_SOURCE_DIR) + "/examples/sample.img");
    const uint64_t chunk = kDefaultChunkSize;
    Image image(chunk + 300000);
    image.Put(chunk - 100000, sample);
    image.Put(1000, Slice(sample, 8192, 16148));  // a JPEG near the start
    // A BMP header whose size runs 70000 bytes over the first boundary: the
    // second chunk's own scan does not see it, and the true scan jumps.
    std::vector<uint8_t> bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0};
    const uint32_t bmp_size = 200000;
    for (int i = 0; i < 4; ++i) bmp[2 + i] = static_cast<uint8_t>(bmp_size >> (8 * i));
    image.Put(chunk - 130000, bmp);
    const std::string path = image.Save(dir.Native("disk.img"));

    const std::string plugins =
        PluginFolder(dir.Native("plugins"), {"jpeghound", "photohound", "formathound", "markhound"});
    CopySignatureLibrary(plugins);

    // Without the check stage the plug-ins' answers stand; with it the false
    // BMP is rejected and the files it covered are found.
    for (const bool check : {false, true}) {
        SCOPED_TRACE(check ? "checked" : "--no-check");
        const std::string mode = check ? "check-" : "plain-";
        auto flags = [&](std::vector<std::string> more) {
            if (!check) more.push_back("--no-check");
            return more;
        };
        const Output one = Scan(dir, path, plugins, mode + "one",
                                flags({"--threads", "1", "--exhaustive"}), true);
        const bool bmp_found = one.json.find("\"offset\":" + std::to_string(chunk - 130000)) != std::string::npos;
        const bool png_found =
            one.json.find("\"offset\":" + std::to_string(chunk - 100000 + 44544)) != std::string::npos;
        EXPECT_EQ(bmp_found, !check);
        EXPECT_EQ(png_found, check);
        EXPECT_NE(one.json.find("\"offset\":" + std::to_string(chunk - 100000 + 203776)), std::string::npos);
        // The BMP, the two JPEGs, the Ogg and the MP4, or the nine files; and the audit.
        EXPECT_EQ(one.files.size(), check ? 10u : 6u);
        const struct {
            const char* name;
            std::vector<std::string> flags;
            bool table;
        } rows[] = {
            {"filters-default", {}, true},
            {"filters-three", {"--threads", "3"}, false},
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            const Output other = Scan(dir, path, plugins, mode + row.name, flags(row.flags), row.table);
            if (row.table) {
                EXPECT_EQ(other.table, one.table);
            }
            EXPECT_EQ(other.json, one.json);
            EXPECT_EQ(other.dfxml, one.dfxml);
            EXPECT_EQ(other.audit, one.audit);
            EXPECT_EQ(other.files, one.files);
            EXPECT_TRUE(other.contents == one.contents);
        }
    }
}

}  // namespace
