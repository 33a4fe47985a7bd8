// The built hound binary run on generated images with probe plug-ins: items
// at known offsets, every output form, extraction, errors and path safety.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <tuple>

#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Expected {
    uint64_t offset, size, in_file;
    std::string ext;
};

std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    for (const std::string& line : Lines(text)) lines.push_back(json::parse(line));
    return lines;
}

struct DfxmlObject {
    std::string filename;
    uint64_t filesize, img_offset, len;
};

// The fileobjects of a DFXML report; the file must also pass xmllint.
std::vector<DfxmlObject> ReadDfxml(const std::string& path) {
    std::string count;
    EXPECT_EQ(Shell("xmllint --noout " + ShellQuote(path) + " 2>&1", &count), 0) << count;
    Shell("xmllint --xpath \"count(//*[local-name()='fileobject'])\" " + ShellQuote(path), &count);
    count.erase(count.find_last_not_of('\n') + 1);
    const auto bytes = ReadBytes(path);
    const std::string xml(bytes.begin(), bytes.end());
    const std::regex object(
        "<fileobject>\\s*<filename>([^<]*)</filename>\\s*<filesize>(\\d+)</filesize>[^]*?"
        "<byte_run offset=\"0\" img_offset=\"(\\d+)\" len=\"(\\d+)\"/>");
    std::vector<DfxmlObject> objects;
    for (std::sregex_iterator it(xml.begin(), xml.end(), object), end; it != end; ++it) {
        objects.push_back({(*it)[1], std::stoull((*it)[2]), std::stoull((*it)[3]), std::stoull((*it)[4])});
    }
    EXPECT_EQ(count, std::to_string(objects.size())) << "xmllint and the pattern disagree";
    return objects;
}

std::string ItemName(const std::string& stem, uint64_t offset, const std::string& ext) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(offset));
    return ext + "/" + stem + "-" + hex + "." + ext;
}

class EndToEnd : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    std::string Plugins(const std::vector<std::string>& names) {
        return PluginFolder(Path("plugins-" + std::to_string(++folders_)), names);
    }
    // hound scan with the probe plug-in alone, its answers unchecked.
    HoundRun Scan(std::vector<std::string> args) {
        args.insert(args.begin(), "scan");
        for (const char* extra : {"--plugins", "", "--order", "probe", "-q", "--no-check"}) args.push_back(extra);
        args[args.size() - 5] = probes_.empty() ? (probes_ = Plugins({"probe"})) : probes_;
        return RunHound(args);
    }

    TempDir dir_;
    std::string probes_;
    int folders_ = 0;
};

// An image of 4096 filler bytes with adjacent, empty, nested and final items.
Image KnownImage(std::vector<Expected>* expected, std::vector<Expected>* nested_only) {
    Image image(4096);
    const auto put = [&](uint64_t offset, uint64_t size, const std::string& ext, size_t length) {
        image.Put(offset, ProbeItem(size, ext, length));
    };
    put(100, 50, "aaa", 50);
    put(150, 40, "bbb", 40);  // right behind the first
    put(1000, 0, "zero", 0);
    put(2000, 200, "outer", 200);
    put(2050, 30, "inner", 30);  // inside the outer item
    put(4096 - 60, 60, "end", 60);  // its last byte is the last of the file
    *expected = {{100, 50, 50, "aaa"}, {150, 40, 40, "bbb"}, {1000, 0, 0, "zero"},
                 {2000, 200, 200, "outer"}, {4036, 60, 60, "end"}};
    *nested_only = {{2050, 30, 30, "inner"}};
    return image;
}

TEST_F(EndToEnd, ItemsAtKnownOffsetsInEveryOutputFormAndExtracted) {
    std::vector<Expected> expected, nested_only;
    const Image image = KnownImage(&expected, &nested_only);
    const std::string input = image.Save(Path("known.img"));
    const std::string out = Path("out");

    const HoundRun table = Scan({input, "--out", out, "--dfxml", Path("report.xml")});
    ASSERT_EQ(table.exit_code, 0) << table.err;
    EXPECT_EQ(table.err, "");
    const std::vector<std::string> lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 2 + expected.size()) << table.out;
    EXPECT_EQ(lines[0], input + ": 5 items in 4096 bytes");
    EXPECT_EQ(lines[1], "  offset (hex)  offset  size  ext    description  plug-in  flags");
    EXPECT_EQ(lines[2], "  0x00000064       100    50  aaa    probe item   probe");
    EXPECT_EQ(lines[4], "  0x000003e8      1000     0  zero   probe item   probe");
    EXPECT_EQ(lines[6], "  0x00000fc4      4036    60  end    probe item   probe");

    const HoundRun jsonl = Scan({input, "--json"});
    ASSERT_EQ(jsonl.exit_code, 0) << jsonl.err;
    const std::vector<json> objects = JsonLines(jsonl.out);
    ASSERT_EQ(objects.size(), expected.size()) << jsonl.out;
    const std::vector<DfxmlObject> dfxml = ReadDfxml(Path("report.xml"));
    ASSERT_EQ(dfxml.size(), expected.size());

    std::vector<std::string> files = {"audit.txt"};
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(e.ext);
        EXPECT_EQ(objects[i]["offset"], e.offset);
        EXPECT_EQ(objects[i]["size"], e.size);
        EXPECT_EQ(objects[i]["size_in_file"], e.in_file);
        EXPECT_EQ(objects[i]["ext"], e.ext);
        EXPECT_EQ(objects[i]["truncated"], false);
        EXPECT_EQ(objects[i]["plugin"], "probe");
        EXPECT_EQ(objects[i]["file"], input);
        const std::string name = ItemName("known.img", e.offset, e.ext);
        EXPECT_EQ(dfxml[i].filename, name);
        EXPECT_EQ(dfxml[i].img_offset, e.offset);
        EXPECT_EQ(dfxml[i].len, e.in_file);
        EXPECT_EQ(dfxml[i].filesize, e.in_file);
        EXPECT_EQ(ReadBytes(out + "/" + name), Slice(image.bytes(), e.offset, e.in_file));
        files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(FilesBelow(out), files);

    const auto audit_bytes = ReadBytes(out + "/audit.txt");
    const std::string audit(audit_bytes.begin(), audit_bytes.end());
    for (const char* text : {"counts per type:\n  aaa  1\n  bbb  1\n  end  1\n  outer  1\n  zero  1\n",
                             "total: 5 items in 1 of 1 input\n", "time taken: ", "order=probe"}) {
        EXPECT_NE(audit.find(text), std::string::npos) << text << "\n" << audit;
    }
}

TEST_F(EndToEnd, ItemReachingPastTheEndIsTruncatedAndExtractedToTheEnd) {
    Image image(3000);
    image.Put(500, ProbeItem(100, "early", 100));
    image.Put(2980, ProbeItem(1000, "cut"));  // 20 bytes of it are in the file
    const std::string input = image.Save(Path("cut.img"));
    const HoundRun run = Scan({input, "--out", Path("out"), "--dfxml", Path("r.xml")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_NE(lines[3].find("1000  cut"), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("truncated (20 of 1000 bytes in the file)"), std::string::npos) << lines[3];
    EXPECT_EQ(lines[2].find("truncated"), std::string::npos);
    EXPECT_EQ(ReadBytes(Path("out/" + ItemName("cut.img", 2980, "cut"))), Slice(image.bytes(), 2980, 20));
    const std::vector<DfxmlObject> dfxml = ReadDfxml(Path("r.xml"));
    ASSERT_EQ(dfxml.size(), 2u);
    EXPECT_EQ(dfxml[1].len, 20u);

    const HoundRun jsonl = Scan({input, "--json"});
    const std::vector<json> objects = JsonLines(jsonl.out);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1]["truncated"], true);
    EXPECT_EQ(objects[1]["size"], 1000u);
    EXPECT_EQ(objects[1]["size_in_file"], 20u);
}

// The digest of a file by the coreutils tool (md5sum, sha256sum, ...).
std::string ToolDigest(const std::string& tool, const std::string& path) {
    std::string out;
    EXPECT_EQ(Shell(tool + " " + ShellQuote(path), &out), 0);
    return out.substr(0, out.find(' '));
}

TEST_F(EndToEnd, EachItemCarriesTheDigestsOfItsExtractedBytes) {
    Image image(3000);
    image.Put(500, ProbeItem(100, "early", 100));
    image.Put(1000, ProbeItem(0, "zero"));
    image.Put(2980, ProbeItem(1000, "cut"));  // truncated: its digests cover the 20 bytes in the file
    const std::string input = image.Save(Path("hashed.img"));
    const std::string out = Path("out");
    const HoundRun run = Scan({input, "--json", "--hash", "md5,sha256", "--out", out, "--dfxml", Path("r.xml")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<json> objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 3u) << run.out;
    const auto xml_bytes = ReadBytes(Path("r.xml"));
    const std::string xml(xml_bytes.begin(), xml_bytes.end());
    const auto audit_bytes = ReadBytes(out + "/audit.txt");
    const std::string audit(audit_bytes.begin(), audit_bytes.end());
    // Without --out the digests come from another path through the code.
    const std::vector<json> unextracted = JsonLines(Scan({input, "--json", "--hash", "sha256,md5"}).out);
    ASSERT_EQ(unextracted.size(), 3u);
    for (size_t i = 0; i < objects.size(); ++i) {
        SCOPED_TRACE(objects[i].dump());
        const std::string file = objects[i]["extracted"];
        const std::string md5 = ToolDigest("md5sum", file), sha256 = ToolDigest("sha256sum", file);
        EXPECT_EQ(objects[i]["md5"], md5);
        EXPECT_EQ(objects[i]["sha256"], sha256);
        EXPECT_EQ(objects[i].count("sha1"), 0u);
        EXPECT_EQ(unextracted[i]["sha256"], sha256);
        EXPECT_EQ(unextracted[i]["md5"], md5);
        EXPECT_NE(xml.find("<hashdigest type=\"sha256\">" + sha256 + "</hashdigest>"), std::string::npos);
        EXPECT_NE(xml.find("<hashdigest type=\"md5\">" + md5 + "</hashdigest>"), std::string::npos);
        EXPECT_NE(audit.find("  md5:" + md5 + "  sha256:" + sha256), std::string::npos) << audit;
    }
    // The default is SHA-256 alone; an unknown name is a bad command line.
    const std::vector<json> plain = JsonLines(Scan({input, "--json"}).out);
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[0]["sha256"], objects[0]["sha256"]);
    EXPECT_EQ(plain[0].count("md5"), 0u);
    const std::vector<json> none = JsonLines(Scan({input, "--json", "--hash", "none"}).out);
    ASSERT_EQ(none.size(), 3u);
    EXPECT_EQ(none[0].count("sha256"), 0u);
    EXPECT_EQ(Scan({input, "--hash", "sha256,crc32"}).exit_code, 2);
}

// Items over items: a part that starts inside an outer item sees inner ones
// that the whole scan jumps over, and may itself jump over items the whole
// scan finds (c behind a, hidden by b; h behind f, hidden by g).
Image OverlappingImage() {
    Image image(5000);
    const std::vector<std::tuple<uint64_t, uint64_t, const char*>> items = {
        {1000, 500, "a"}, {1200, 400, "b"}, {1500, 50, "c"}, {1700, 30, "d"}, {1800, 0, "zero"},
        {2000, 1500, "f"}, {2600, 1000, "g"}, {3000, 100, "i"}, {3500, 20, "h"}, {4990, 100, "cut"}};
    for (const auto& [offset, size, ext] : items) image.Put(offset, ProbeItem(size, ext));
    return image;
}

TEST_F(EndToEnd, PartsJoinedInOrderGiveTheWholeScan) {
    const Image image = OverlappingImage();
    const std::string input = image.Save(Path("parts.img"));
    const HoundRun whole = Scan({input, "--json", "--out", Path("whole"), "--dfxml", Path("whole.xml")});
    ASSERT_EQ(whole.exit_code, 0) << whole.err;
    ASSERT_EQ(Lines(whole.out).size(), 7u) << whole.out;  // a c d zero f h cut

    // Cuts inside items, on item starts, and next to each other.
    const std::vector<std::vector<std::string>> cuts = {
        {"--part", "1/2", "--part", "2/2"},
        {"--range", "0:1100", "--range", "1100:2700", "--range", "2700:"},
        {"--range", "0:1200", "--range", "1200:1201", "--range", "1201:3001", "--range", "3001:5100"},
        {"--range", "0:1501", "--range", "1501:2100", "--range", "2100:3550", "--range", "3550:4995",
         "--range", "4995:5100"},
        {"--part", "1/7", "--part", "2/7", "--part", "3/7", "--part", "4/7", "--part", "5/7",
         "--part", "6/7", "--part", "7/7"}};
    for (size_t c = 0; c < cuts.size(); ++c) {
        SCOPED_TRACE("cuts " + std::to_string(c));
        const std::string out = Path("parts-" + std::to_string(c));
        std::vector<std::string> join = {"join"};
        for (size_t i = 0; i < cuts[c].size(); i += 2) {
            const HoundRun part = Scan({input, "--json", "--out", out, cuts[c][i], cuts[c][i + 1]});
            ASSERT_EQ(part.exit_code, 0) << part.err;
            EXPECT_EQ(json::parse(Lines(part.out).back())["options"],
                      "order=probe nested=no min-size=0 max-size=none check=no signs=default");
            const std::string lines = Path("part-" + std::to_string(c) + "-" + std::to_string(i) + ".jsonl");
            WriteBytes(lines, std::vector<uint8_t>(part.out.begin(), part.out.end()));
            join.insert(join.begin() + 1, lines);  // in reverse: join sorts them
        }
        EXPECT_FALSE(fs::exists(out + "/.hound-lock"));  // the last part to end removed it
        for (const char* option : {"--out", out.c_str(), "--dfxml"}) join.push_back(option);
        join.push_back(Path("joined.xml"));
        const HoundRun joined = RunHound(join);
        ASSERT_EQ(joined.exit_code, 0) << joined.err;
        // The same lines but for the output folder in "extracted".
        EXPECT_EQ(std::regex_replace(joined.out, std::regex("/parts-\\d+/"), "/whole/"), whole.out);
        // The same files; beside them each part's audit.
        const auto items_only = [](std::vector<std::string> files) {
            files.erase(std::remove_if(files.begin(), files.end(),
                                       [](const std::string& f) { return f.rfind("audit", 0) == 0; }),
                        files.end());
            return files;
        };
        const std::vector<std::string> expected = items_only(FilesBelow(Path("whole")));
        EXPECT_EQ(items_only(FilesBelow(out)), expected);
        for (const std::string& name : expected) {
            EXPECT_EQ(ReadBytes(out + "/" + name), ReadBytes(Path("whole/" + name))) << name;
        }
        // The joined reports list the items as the whole scan's do.
        const auto text = [](const std::string& path, const char* from, const char* to) {
            const auto bytes = ReadBytes(path);
            const std::string all(bytes.begin(), bytes.end());
            const size_t begin = all.find(from);
            return begin == std::string::npos ? all : all.substr(begin, all.find(to, begin) - begin);
        };
        EXPECT_EQ(text(Path("joined.xml"), "<fileobject>", "</dfxml>"),
                  text(Path("whole.xml"), "<fileobject>", "</dfxml>"));
        EXPECT_EQ(text(out + "/audit.txt", "items (", "messages:"),
                  text(Path("whole/audit.txt"), "items (", "messages:"));
    }

    // Parts that do not make one scan: nothing joined, one line. "old"
    // takes the options out of a part's line, as older parts were written.
    const struct {
        std::vector<std::vector<std::string>> parts;
        std::string problem;  // "": they join
    } rows[] = {
        {{{"--range", "0:3000"}}, "no part covers positions 3000 to 5006"},  // a missing part
        {{{"--part", "1/2", "--min-size", "1"}, {"--part", "2/2"}}, "the parts were scanned with different options"},
        {{{"old", "--part", "1/2"}, {"--part", "2/2"}}, "the parts were scanned with different options (none given"},
        {{{"old", "--part", "1/2"}, {"old", "--part", "2/2"}}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.problem);
        std::vector<std::string> join = {"join"};
        for (std::vector<std::string> args : row.parts) {
            const bool old = args[0] == "old";
            if (old) args.erase(args.begin());
            args.insert(args.begin(), {input, "--json"});
            std::string lines = Scan(args).out;
            if (old) lines = std::regex_replace(lines, std::regex(",\"options\":\"[^\"]*\""), "");
            join.push_back(Path("part-" + std::to_string(join.size()) + ".jsonl"));
            WriteBytes(join.back(), std::vector<uint8_t>(lines.begin(), lines.end()));
        }
        const HoundRun joined = RunHound(join);
        EXPECT_EQ(joined.exit_code, row.problem.empty() ? 0 : 1);
        EXPECT_EQ(joined.out == "", !row.problem.empty());
        EXPECT_EQ(Lines(joined.err).size(), row.problem.empty() ? 0u : 1u) << joined.err;
        EXPECT_NE(joined.err.find(row.problem), std::string::npos) << joined.err;
    }

    // A range that begins past the end scans nothing, and says so.
    const HoundRun past = Scan({input, "--json", "--range", "1M:"});
    EXPECT_EQ(past.exit_code, 0);
    EXPECT_EQ(Lines(past.err), (std::vector<std::string>{"hound: note: --range begins at 1048576, at or past the "
                                                         "end of '" + input + "' (5006 bytes): nothing is scanned"}));
}

// Paths that are not UTF-8 keep their bytes from the command line to the
// JSON lines ("file_bytes", "extracted_bytes"), and hound join finds the
// parts' files by them: it removes those of the items it leaves out.
TEST_F(EndToEnd, PathsThatAreNotUtf8KeepTheirBytes) {
    const std::string input = OverlappingImage().Save(Path("disk-\xFF.img"));
    const auto hex = [](const std::string& bytes) {
        std::string text;
        char digits[3];
        for (char c : bytes) {
            std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(static_cast<uint8_t>(c)));
            text += digits;
        }
        return text;
    };
    const std::string whole = Path("whole-\xFE"), parts = Path("parts-\xFE");
    const HoundRun run = Scan({input, "--json", "--out", whole});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<json> objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 7u);
    for (const json& object : objects) {
        EXPECT_EQ(object["file"], Path("disk-\xEF\xBF\xBD.img"));
        EXPECT_EQ(object["file_bytes"], hex(input));
        const std::string name = ItemName("disk-_.img", object["offset"], object["ext"]);
        EXPECT_EQ(object["extracted_bytes"], hex(whole + "/" + name));
        EXPECT_TRUE(fs::exists(whole + "/" + name)) << name;
    }
    std::vector<std::string> join = {"join", "--out", parts};
    for (const char* part : {"1/2", "2/2"}) {
        const HoundRun scanned = Scan({input, "--json", "--out", parts, "--part", part});
        ASSERT_EQ(scanned.exit_code, 0) << scanned.err;
        join.push_back(Path(std::string("part-") + part[0] + ".jsonl"));
        WriteBytes(join.back(), std::vector<uint8_t>(scanned.out.begin(), scanned.out.end()));
    }
    const HoundRun joined = RunHound(join);
    ASSERT_EQ(joined.exit_code, 0) << joined.err;
    EXPECT_EQ(joined.err, "");
    EXPECT_EQ(JsonLines(joined.out).size(), objects.size());
    std::vector<std::string> kept = FilesBelow(parts), expected = FilesBelow(whole);
    kept.erase(std::remove_if(kept.begin(), kept.end(), [](const std::string& f) { return f.rfind("audit", 0) == 0; }),
               kept.end());
    expected.erase(std::remove(expected.begin(), expected.end(), "audit.txt"), expected.end());
    EXPECT_EQ(kept, expected);
}

TEST_F(EndToEnd, ExtractedBytesStayBoundedWhenTruncatedItemsRepeat) {
    // 40 headers, each claiming a megabyte: every item is truncated, and
    // each one after the first starts inside the first.
    Image image(5000);
    for (int i = 0; i < 40; ++i) image.Put(100 + 100 * i, ProbeItem(1 << 20, "cut"));
    const std::string input = image.Save(Path("cuts.img"));
    const auto extracted_bytes = [](const std::string& out) {
        uint64_t total = 0;
        for (const std::string& name : FilesBelow(out)) {
            if (name != "audit.txt") total += fs::file_size(out + "/" + name);
        }
        return total;
    };

    const HoundRun run = Scan({input, "--out", Path("out"), "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<json> objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 40u);
    EXPECT_EQ(objects[0].count("not_extracted"), 0u);
    EXPECT_EQ(objects[39]["not_extracted"], "inside the truncated item at 0x00000064");
    EXPECT_EQ(FilesBelow(Path("out")), (std::vector<std::string>{"audit.txt", ItemName("cuts.img", 100, "cut")}));
    EXPECT_EQ(extracted_bytes(Path("out")), 4900u);
    const auto audit_bytes = ReadBytes(Path("out/audit.txt"));
    const std::string audit(audit_bytes.begin(), audit_bytes.end());
    for (const char* text : {"truncated: 40 (reaching past the end of their input)\n",
                             "not extracted: 39 inside an earlier truncated item, 0 beyond 4 times",
                             "  0x00000064  100  1048576  probe  cut/cuts.img-0000000000000064.cut  "}) {
        EXPECT_NE(audit.find(text), std::string::npos) << text << "\n" << audit;
    }
    EXPECT_EQ(audit.find("0x000000c8"), std::string::npos) << "an item left out is counted, not listed";
    EXPECT_EQ(Lines(Scan({input}).out).at(0), input + ": 40 items in 5000 bytes (40 truncated)");

    // --nested extracts items inside items, up to 4 times the input's size.
    const HoundRun nested = Scan({input, "--out", Path("nested"), "--nested"});
    ASSERT_EQ(nested.exit_code, 0) << nested.err;
    EXPECT_EQ(Lines(nested.err), (std::vector<std::string>{
                                     "hound: note: 35 items of '" + input + "' not extracted: the bytes "
                                     "extracted from an input stay within 4 times its size"}));
    EXPECT_LE(extracted_bytes(Path("nested")), 4u * 5000);
    EXPECT_EQ(FilesBelow(Path("nested")).size(), 1u + 40 - 35);

    // --max-files bounds the number of files as the rule bounds their bytes.
    const HoundRun few = Scan({input, "--out", Path("few"), "--nested", "--max-files", "3", "--json"});
    ASSERT_EQ(few.exit_code, 0) << few.err;
    EXPECT_EQ(Lines(few.err), (std::vector<std::string>{"hound: note: 37 items of '" + input + "' not extracted: "
                                                        "at most 3 files are extracted from an input (--max-files)"}));
    const std::vector<json> few_objects = JsonLines(few.out);
    ASSERT_EQ(few_objects.size(), 40u);
    EXPECT_EQ(few_objects[2].count("extracted"), 1u);
    EXPECT_EQ(few_objects[3]["not_extracted"], "beyond the --max-files files of an input");
    EXPECT_EQ(few_objects[3].count("sha256"), 0u);
    EXPECT_EQ(FilesBelow(Path("few")).size(), 1u + 3);
    const auto few_audit_bytes = ReadBytes(Path("few/audit.txt"));
    const std::string few_audit(few_audit_bytes.begin(), few_audit_bytes.end());
    for (const char* text : {"not extracted: 0 inside an earlier truncated item, 0 beyond 4 times their input's size, "
                             "37 beyond the --max-files files of their input\n",
                             " max-files=3 "}) {
        EXPECT_NE(few_audit.find(text), std::string::npos) << text << "\n" << few_audit;
    }
    EXPECT_EQ(audit.find("max-files"), std::string::npos) << "the default is not told";

    // Without --out the same rule bounds the bytes hashed.
    const std::vector<json> hashed = JsonLines(Scan({input, "--json"}).out);
    ASSERT_EQ(hashed.size(), 40u);
    EXPECT_EQ(hashed[0].count("sha256"), 1u);
    EXPECT_EQ(hashed[39].count("sha256"), 0u);
    EXPECT_EQ(hashed[39]["not_hashed"], "inside the truncated item at 0x00000064");
    EXPECT_EQ(Lines(Scan({input, "--nested"}).err),
              (std::vector<std::string>{"hound: note: 35 items of '" + input + "' not hashed: the bytes hashed "
                                        "from an input stay within 4 times its size"}));
}

TEST_F(EndToEnd, ATableOfManyItemsStreamsItsRowsAndCountsLast) {
    Image image(1300 * 20);
    for (size_t i = 0; i < 1300; ++i) image.Put(20 * i, ProbeItem(20, "many", 20));
    const std::string input = image.Save(Path("many.img"));
    const HoundRun run = Scan({input, "--dfxml", Path("many.xml"), "--out", Path("out")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1300u + 3);
    EXPECT_EQ(lines[0], input + ": more than 1000 items, listed as they are found; the count follows the table");
    EXPECT_EQ(lines[1], "  offset (hex)  offset  size  ext   description  plug-in  flags");
    EXPECT_EQ(lines[2], "  0x00000000         0    20  many  probe item   probe");
    EXPECT_EQ(lines[1301], "  0x0000657c     25980    20  many  probe item   probe");
    EXPECT_EQ(lines[1302], input + ": 1300 items in 26000 bytes");
    EXPECT_EQ(ReadDfxml(Path("many.xml")).size(), 1300u);
    EXPECT_EQ(FilesBelow(Path("out")).size(), 1301u);
}

TEST_F(EndToEnd, ExtensionsFromTheDataCannotLeaveTheOutputFolder) {
    Image image(1000);
    image.Put(10, ProbeItem(20, "../../x", 20));
    image.Put(40, ProbeItem(20, "", 20));
    image.Put(70, ProbeItem(20, "/etc/passwd", 20));
    image.Put(100, ProbeItem(20, "..", 20));
    image.Put(130, ProbeItem(20, "<&\"'>", 20));
    const std::string input = image.Save(Path("evil.img"));
    fs::create_directories(Path("deep/er"));
    const std::string out = Path("deep/er/out");
    const HoundRun run = Scan({input, "--out", out, "--dfxml", Path("evil.xml")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::vector<std::string> expected = {
        "er/out/" + ItemName("evil.img", 10, "______x"),
        "er/out/" + ItemName("evil.img", 40, "bin"),
        "er/out/" + ItemName("evil.img", 70, "_etc_passwd"),
        "er/out/" + ItemName("evil.img", 100, "__"),
        "er/out/" + ItemName("evil.img", 130, "_____"),
        "er/out/audit.txt",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(Path("deep")), expected);
    EXPECT_EQ(ReadDfxml(Path("evil.xml")).size(), 5u);
    // Nothing was written beside the input or above the output folder.
    std::vector<std::string> top;
    for (const auto& entry : fs::directory_iterator(dir_.path())) top.push_back(entry.path().filename());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"deep", "evil.img", "evil.xml", "plugins-1"}));
}

TEST_F(EndToEnd, InputsWithTheSameNameExtractToDistinctFiles) {
    fs::create_directories(Path("a"));
    fs::create_directories(Path("b"));
    Image first(100), second(100);
    first.Put(10, ProbeItem(20, "x", 20));
    second.Put(10, ProbeItem(30, "x", 30));
    const HoundRun run = Scan({first.Save(Path("a/disk.img")), second.Save(Path("b/disk.img")),
                               "--out", Path("out")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(FilesBelow(Path("out")),
              (std::vector<std::string>{"audit.txt", ItemName("disk-2.img", 10, "x"),
                                        ItemName("disk.img", 10, "x")}));
    EXPECT_EQ(ReadBytes(Path("out/") + ItemName("disk.img", 10, "x")), Slice(first.bytes(), 10, 20));
    EXPECT_EQ(ReadBytes(Path("out/") + ItemName("disk-2.img", 10, "x")), Slice(second.bytes(), 10, 30));
}

TEST_F(EndToEnd, BadInputsGetOneLineEachAndTheOthersAreStillScanned) {
    Image image(500);
    image.Put(10, ProbeItem(30, "ok", 30));
    const std::string good = image.Save(Path("good.img"));
    fs::create_directories(Path("folder"));
    WriteBytes(Path("empty.img"), {});
    fs::create_symlink("loop", Path("loop"));
    const HoundRun run = Scan({Path("missing.img"), good, Path("folder"), Path("empty.img"),
                               Path("loop"), "/dev/null", good});
    EXPECT_EQ(run.exit_code, 1);
    const std::vector<std::string> errors = Lines(run.err);
    ASSERT_EQ(errors.size(), 5u) << run.err;
    const char* const expected[] = {
        "cannot open '" ,  "missing.img': No such file or directory",
        "'",               "folder' is a folder, not a file",
        "'",               "empty.img' is empty: nothing to scan",
        "cannot open '",   "loop': Too many levels of symbolic links",
        "'/dev/null' is not a regular file or block device", "",
    };
    for (size_t i = 0; i < errors.size(); ++i) {
        SCOPED_TRACE(errors[i]);
        EXPECT_EQ(errors[i].rfind(std::string("hound: ") + expected[2 * i], 0), 0u);
        EXPECT_NE(errors[i].find(expected[2 * i + 1]), std::string::npos);
    }
    const std::vector<std::string> lines = Lines(run.out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), good + ": 1 item in 500 bytes"), 2);
    EXPECT_EQ(lines.back(), "total: 2 items in 2 of 7 inputs");  // the 5 bad ones were not scanned
}

TEST_F(EndToEnd, UnreadableFileIsReported) {
    // Root reads any file: then hound runs as nobody, on a file that only
    // root may read, in a folder and with plug-ins that anybody may read.
    std::string prefix;
    if (geteuid() == 0) {
        if (Shell("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv to drop root";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
        fs::permissions(dir_.path(), fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    }
    Image image(100);
    image.Put(10, ProbeItem(30, "ok", 30));
    const std::string secret = image.Save(Path("secret.img"));
    const std::string open = image.Save(Path("open.img"));
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(open, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const HoundRun run = RunHound({"scan", secret, open, "--plugins", Plugins({"probe"}), "--order", "probe"},
                                  prefix);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(Lines(run.err),
              (std::vector<std::string>{"hound: cannot open '" + secret + "': Permission denied"}));
    EXPECT_EQ(Lines(run.out).at(0), open + ": 1 item in 100 bytes");
}

TEST_F(EndToEnd, FileShortenedWhileScannedStopsTheRunWithOneLine) {
    const std::string input = Image(1 << 20).Save(Path("shrinking.img"));
    const HoundRun run = RunHound({"scan", input, "--plugins", Plugins({"probe"}), "--order", "probe"},
                                  "HOUND_PROBE_TRUNCATE=" + ShellQuote(input));
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(Lines(run.err),
              (std::vector<std::string>{"hound: '" + input + "' became shorter while it was read; stopped"}));

    // Shortened to 1 MiB once the scan gets there: on one thread (a file
    // below a chunk's size is scanned in order) the items before are all
    // reported and extracted; on four (chunks) as many as were joined by
    // then. Either way every line is whole, the reports tell what was done,
    // and no lock or unfinished file is left.
    constexpr uint64_t kMiB = 1 << 20;
    const struct {
        uint64_t size;
        const char* threads;
        std::vector<uint64_t> items;  // offsets of 100-byte items; those below 1 MiB are reported (one thread)
    } rows[] = {
        {3 * kMiB, "1", {100, 500000, kMiB - 50, 2 * kMiB}},
        {64 * kMiB, "4", {100, 5 * kMiB, 40 * kMiB}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.threads);
        const std::string image = Path(std::string("shrinks-") + row.threads + ".img");
        Image(4096).Save(image);
        fs::resize_file(image, row.size);
        {
            std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
            for (uint64_t offset : row.items) {
                const std::vector<uint8_t> bytes = ProbeItem(100, "x", 100);
                file.seekp(static_cast<std::streamoff>(offset));
                file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            }
        }
        const std::string out = Path(std::string("shrunk-") + row.threads);
        const HoundRun cut = RunHound({"scan", image, "--plugins", Plugins({"probe"}), "--order", "probe", "-q",
                                       "--no-check", "--json", "--threads", row.threads, "--out", out, "--dfxml",
                                       out + ".xml"},
                                      "HOUND_PROBE_TRUNCATE=" + ShellQuote(image) +
                                          " HOUND_PROBE_TRUNCATE_AT=" + std::to_string(kMiB));
        EXPECT_EQ(cut.exit_code, 1);
        EXPECT_EQ(Lines(cut.err),
                  (std::vector<std::string>{"hound: '" + image + "' became shorter while it was read; stopped"}));
        EXPECT_TRUE(cut.out.empty() || cut.out.back() == '\n') << cut.out;
        std::vector<uint64_t> offsets;
        std::vector<std::string> files = {"audit.txt"};
        for (const json& object : JsonLines(cut.out)) {
            offsets.push_back(object["offset"]);
            ASSERT_TRUE(object.contains("extracted")) << object.dump();
            files.push_back(ItemName(fs::path(image).filename(), object["offset"], "x"));
            EXPECT_EQ(ReadBytes(object["extracted"]), ProbeItem(100, "x", 100));
        }
        std::vector<uint64_t> before_the_cut;
        for (uint64_t offset : row.items) {
            if (offset < kMiB) before_the_cut.push_back(offset);
        }
        if (std::string(row.threads) == "1") {
            EXPECT_EQ(offsets, before_the_cut);
        }
        EXPECT_EQ(FilesBelow(out), files);  // no lock file, no unfinished file
        EXPECT_EQ(ReadDfxml(out + ".xml").size(), offsets.size());
        const auto audit_bytes = ReadBytes(out + "/audit.txt");
        const std::string audit(audit_bytes.begin(), audit_bytes.end());
        for (const std::string& text : {std::to_string(row.size) + " bytes  " + std::to_string(offsets.size()) +
                                            (offsets.size() == 1 ? " item" : " items") +
                                            "  scan stopped: it became shorter while it was read (" +
                                            std::to_string(kMiB) + " of " + std::to_string(row.size) +
                                            " bytes left)\n",
                                        std::string("became shorter while it was read; stopped\n")}) {
            EXPECT_NE(audit.find(text), std::string::npos) << text << "\n" << audit;
        }
    }
}

TEST_F(EndToEnd, PluginsThatCannotBeUsedAreReportedAndTheOthersScan) {
    Image image(500);
    image.Put(10, ProbeItem(30, "ok", 30));
    const std::string input = image.Save(Path("good.img"));
    const std::string plugins =
        Plugins({"probe", "probe_bad_magic", "probe_bad_version", "probe_no_export"});
    WriteBytes(plugins + "/junk.so", {'n', 'o', 't'});
    const HoundRun run = RunHound({"scan", input, "--plugins", plugins, "--order",
                                   "probe_bad_magic,junk,probe_bad_version,probe_no_export,probe,gone"});
    EXPECT_EQ(run.exit_code, 1);
    const std::vector<std::string> errors = Lines(run.err);
    ASSERT_EQ(errors.size(), 5u) << run.err;
    for (const std::string& line : errors) EXPECT_EQ(line.rfind("hound: ", 0), 0u) << line;
    EXPECT_NE(errors[0].find("wrong magic"), std::string::npos);
    EXPECT_NE(errors[1].find("cannot load plug-in"), std::string::npos);
    EXPECT_NE(errors[2].find("interface version 0x0200"), std::string::npos);
    EXPECT_NE(errors[3].find("does not export KX_QueryInterface"), std::string::npos);
    EXPECT_NE(errors[4].find("plug-in 'gone' not found"), std::string::npos);
    EXPECT_EQ(Lines(run.out).at(0), input + ": 1 item in 500 bytes");
}

TEST_F(EndToEnd, WithoutUsablePluginsNothingIsScanned) {
    const std::string input = Image(100).Save(Path("x.img"));
    fs::create_directories(Path("none"));
    const struct {
        std::string plugins, order, message;
    } rows[] = {
        {Path("none"), "photohound,markhound", "hound: no plug-ins in '" + Path("none") + "'"},
        {Path("absent"), "probe", "hound: plug-in folder '" + Path("absent") + "' does not exist"},
        {Plugins({"probe_bad_magic"}), "probe_bad_magic", "wrong magic"},
        {Plugins({"probe_idle"}), "probe_idle", "hound: no plug-in is ready to detect anything"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.order);
        const HoundRun run = RunHound({"scan", input, "--plugins", row.plugins, "--order", row.order});
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(EndToEnd, IdlePluginGetsOneNoteIsNeverAskedAndSlotsRunOnce) {
    Image image(500);
    image.Put(10, ProbeItem(30, "ok", 30));
    const std::string input = image.Save(Path("good.img"));
    const std::string log = Path("slots.log");
    const HoundRun run = RunHound({"scan", input, input, "--plugins", Plugins({"probe", "probe_idle"}),
                                   "--order", "probe_idle,probe"},
                                  "HOUND_PROBE_LOG=" + ShellQuote(log));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Lines(run.err), (std::vector<std::string>{"hound: note: probe_idle answered Initialize "
                                                        "with 0 (nothing to detect with); it is not asked"}));
    const auto bytes = ReadBytes(log);
    EXPECT_EQ(Lines(std::string(bytes.begin(), bytes.end())),
              (std::vector<std::string>{"probe_idle Initialize", "probe Initialize", "probe_idle Finalize",
                                        "probe Finalize"}));
    EXPECT_EQ(Lines(run.out).back(), "total: 2 items in 2 inputs");
}

TEST_F(EndToEnd, TheFirstPluginInTheOrderWins) {
    Image image(200);
    image.Put(10, ProbeItem(30, "ok", 30));
    const std::string input = image.Save(Path("x.img"));
    const std::string plugins = Plugins({"probe", "probe_alt"});
    const struct {
        const char* order;
        const char* plugin;
        const char* description;
    } rows[] = {
        {"probe,probe_alt", "probe", "probe item"},
        {"probe_alt,probe", "probe_alt", "alternative probe item"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.order);
        const HoundRun run = RunHound({"scan", input, "--plugins", plugins, "--order", row.order, "--json"});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::vector<json> objects = JsonLines(run.out);
        ASSERT_EQ(objects.size(), 1u);
        EXPECT_EQ(objects[0]["plugin"], row.plugin);
        EXPECT_EQ(objects[0]["description"], row.description);
    }
}

TEST_F(EndToEnd, SizeFiltersChooseTheReportedItems) {
    Image image(3000);
    image.Put(100, ProbeItem(2000, "big", 40));  // contains the small one
    image.Put(200, ProbeItem(20, "small", 20));
    image.Put(2500, ProbeItem(300, "mid", 40));
    const std::string input = image.Save(Path("sizes.img"));
    const struct {
        std::vector<std::string> filters;
        std::vector<uint64_t> offsets;
    } rows[] = {
        {{}, {100, 2500}},
        {{"--max-size", "1K"}, {200, 2500}},  // the big one no longer hides the small one
        {{"--min-size", "100"}, {100, 2500}},
        {{"--min-size", "0x12c", "--max-size", "300"}, {2500}},
        {{"--min-size", "2001"}, {}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {input, "--json"};
        args.insert(args.end(), row.filters.begin(), row.filters.end());
        const HoundRun run = Scan(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        std::vector<uint64_t> offsets;
        for (const json& object : JsonLines(run.out)) offsets.push_back(object["offset"]);
        EXPECT_EQ(offsets, row.offsets);
    }
}

TEST_F(EndToEnd, WriteFailureLeavesNoPartialFileAndExitsNonZero) {
    Image image(200000);
    image.Put(10, ProbeItem(100, "small", 100));
    image.Put(1000, ProbeItem(150000, "large", 40));
    image.Put(160000, ProbeItem(100, "later", 100));
    const std::string input = image.Save(Path("full.img"));
    // A file-size limit of 64 KiB (dash counts 512-byte blocks): the large
    // item's write fails with EFBIG, whether or not the shell already
    // ignores SIGXFSZ for hound.
    for (const char* prefix : {"ulimit -f 128; trap '' XFSZ;", "ulimit -f 128;"}) {
        SCOPED_TRACE(prefix);
        const std::string out = Path(std::string("out-") + std::to_string(folders_));
        const HoundRun run = RunHound({"scan", input, "--plugins", Plugins({"probe"}), "--order", "probe",
                                       "--out", out},
                                      prefix);
        EXPECT_EQ(run.exit_code, 1);
        const std::vector<std::string> errors = Lines(run.err);
        ASSERT_EQ(errors.size(), 1u) << run.err;
        EXPECT_EQ(errors[0].rfind("hound: cannot write '" + out + "/large/full.img-", 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find("File too large"), std::string::npos) << errors[0];
        EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"audit.txt", ItemName("full.img", 10, "small")}));
        EXPECT_TRUE(fs::is_directory(out + "/large"));
        EXPECT_EQ(Lines(run.out).at(0), input + ": 3 items in 200000 bytes");
    }
    // Every JSON line says what became of its item, the audit too.
    const std::string out = Path("out-json");
    const HoundRun run = RunHound({"scan", input, "--plugins", Plugins({"probe"}), "--order", "probe", "--json",
                                   "--out", out},
                                  "ulimit -f 128;");
    EXPECT_EQ(run.exit_code, 1);
    const std::vector<json> objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 3u) << run.out;
    EXPECT_EQ(objects[0]["extracted"], out + "/" + ItemName("full.img", 10, "small"));
    for (size_t i : {1, 2}) {
        EXPECT_EQ(objects[i]["not_extracted"], "the extraction stopped at a failed write");
        EXPECT_EQ(objects[i].count("sha256"), 1u);  // hashed all the same
    }
    const auto audit = ReadBytes(out + "/audit.txt");
    EXPECT_NE(std::string(audit.begin(), audit.end()).find("(not written: the extraction stopped at a failed write)"),
              std::string::npos);
}

TEST_F(EndToEnd, ProgressShowsOnATerminalOnlyAndNotWithQuiet) {
    if (Shell("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) for a terminal";
    Image image(3 << 20);
    image.Put(10, ProbeItem(30, "ok", 30));
    const std::string input = image.Save(Path("x.img"));
    const std::string plugins = Plugins({"probe"});
    const auto on_terminal = [&](const std::string& extra) {
        std::string text;
        const std::string command = ShellQuote(HOUND_BINARY) + " scan " + ShellQuote(input) +
                                    " --plugins " + ShellQuote(plugins) + " --order probe " + extra +
                                    " >/dev/null";
        Shell("script -qec " + ShellQuote(command) + " /dev/null", &text);
        return text;
    };
    EXPECT_NE(on_terminal("").find("MB/s"), std::string::npos);
    EXPECT_EQ(on_terminal("--quiet").find("MB/s"), std::string::npos);
    const HoundRun piped = RunHound({"scan", input, "--plugins", plugins, "--order", "probe"});
    EXPECT_EQ(piped.err, "");
}

}  // namespace
