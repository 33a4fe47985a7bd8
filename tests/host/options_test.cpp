// The command line: byte counts, plug-in orders, and what the parser answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "host/options.h"

namespace {

TEST(ByteCounts, ParseSizeReadsDigitsHexAndUnits) {
    const struct {
        const char* text;
        bool ok;
        uint64_t value;
    } rows[] = {
        {"0", true, 0},
        {"1234", true, 1234},
        {"0x1F", true, 31},
        {"0X1f", true, 31},
        {"0xb", true, 11},
        {"4K", true, 4096},
        {"4kb", true, 4096},
        {"4KiB", true, 4096},
        {"2M", true, 2 << 20},
        {"1G", true, uint64_t{1} << 30},
        {"3T", true, uint64_t{3} << 40},
        {"10b", true, 10},
        {"18446744073709551615", true, ~uint64_t{0}},
        {"18446744073709551616", false, 0},
        {"16777216T", false, 0},
        {"0x10K", false, 0},
        {"", false, 0},
        {"K", false, 0},
        {"-1", false, 0},
        {"1.5M", false, 0},
        {"12 K", false, 0},
        {"4X", false, 0},
        {"0x", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint64_t value = 77;
        EXPECT_EQ(ParseSize(row.text, &value), row.ok);
        EXPECT_EQ(value, row.ok ? row.value : 77u);
    }
}

TEST(PluginOrder, NamesAreSeparatedByCommasAndCheckedOnce) {
    const struct {
        const char* text;
        bool ok;
        std::vector<std::string> names;
    } rows[] = {
        {"photohound,markhound", true, {"photohound", "markhound"}},
        {"markhound", true, {"markhound"}},
        {"a_b-1,c", true, {"a_b-1", "c"}},
        {"", false, {}},
        {"a,,b", false, {}},
        {"a,", false, {}},
        {"a,a", false, {}},
        {"../x", false, {}},
        {"a b", false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        std::vector<std::string> names;
        std::string error;
        EXPECT_EQ(ParseOrder(row.text, &names, &error), row.ok);
        if (row.ok) EXPECT_EQ(names, row.names);
        else EXPECT_FALSE(error.empty());
    }
}

// The parts of --part K/N tile the data: each begins where the one before
// ends, the first at 0, the last at the end, none more than a byte longer
// than another.
TEST(ScanParts, PartsOfNTileTheData) {
    for (uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{7}, uint64_t{1000003},
                          (uint64_t{1} << 44) + 5, ~uint64_t{0}}) {
        for (uint64_t n : {1, 2, 3, 7, 16, 1000}) {
            SCOPED_TRACE(std::to_string(size) + " in " + std::to_string(n));
            uint64_t at = 0, shortest = ~uint64_t{0}, longest = 0;
            for (uint64_t k = 1; k <= n; ++k) {
                ScanPart part;
                std::string error;
                ASSERT_TRUE(ParsePart(std::to_string(k) + "/" + std::to_string(n), &part, &error));
                const PartBounds bounds = BoundsIn(part, size);
                ASSERT_EQ(bounds.begin, at);
                ASSERT_LE(bounds.begin, bounds.end);
                shortest = std::min(shortest, bounds.end - bounds.begin);
                longest = std::max(longest, bounds.end - bounds.begin);
                at = bounds.end;
            }
            EXPECT_EQ(at, size);
            EXPECT_LE(longest - shortest, 1u);
        }
    }
    // The most parts, on the largest data: the last one still ends at the end.
    ScanPart last;
    std::string error;
    ASSERT_TRUE(ParsePart("1000000/1000000", &last, &error));
    EXPECT_EQ(BoundsIn(last, ~uint64_t{0}).end, ~uint64_t{0});
    EXPECT_EQ(BoundsIn(last, ~uint64_t{0}).end - BoundsIn(last, ~uint64_t{0}).begin,
              ~uint64_t{0} / 1000000 + 1);
}

TEST(ScanParts, RangesAreReadAsByteCountsAndCutToTheData) {
    const struct {
        const char* text;
        bool ok;
        uint64_t begin, end;  // in data of 1 MiB
    } rows[] = {
        {"0:100", true, 0, 100},
        {"0x10:4K", true, 16, 4096},
        {"512K:", true, 512 << 10, 1 << 20},
        {"2M:3M", true, 1 << 20, 1 << 20},
        {"100:99", false, 0, 0},
        {":100", false, 0, 0},
        {"1-2", false, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        ScanPart part;
        std::string error;
        EXPECT_EQ(ParseRange(row.text, &part, &error), row.ok);
        if (!row.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        const PartBounds bounds = BoundsIn(part, 1 << 20);
        EXPECT_EQ(bounds.begin, row.begin);
        EXPECT_EQ(bounds.end, row.end);
    }
}

struct Parsed {
    int code;
    Options options;
    std::string out, err;
};

Parsed Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "hound");
    Parsed parsed;
    std::ostringstream out, err;
    parsed.code = ParseCommandLine(static_cast<int>(args.size()), args.data(), &parsed.options, out, err);
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(CommandLine, ScanWithEveryOption) {
    const Parsed p = Parse({"scan", "a.img", "b.img", "--plugins", "/p", "--order", "markhound",
                            "--nested", "--json", "--dfxml", "r.xml", "--out", "o", "--min-size",
                            "1K", "--max-size", "0x100000", "--quiet", "--no-check",
                            "--out-append", "--max-files", "2K"});
    ASSERT_EQ(p.code, -1) << p.err;
    EXPECT_EQ(p.options.files, (std::vector<std::string>{"a.img", "b.img"}));
    EXPECT_EQ(p.options.plugins_dir, "/p");
    EXPECT_EQ(p.options.order, (std::vector<std::string>{"markhound"}));
    EXPECT_TRUE(p.options.nested);
    EXPECT_TRUE(p.options.json);
    EXPECT_EQ(p.options.dfxml, "r.xml");
    EXPECT_EQ(p.options.out, "o");
    EXPECT_TRUE(p.options.out_append);
    EXPECT_EQ(p.options.max_files, 2048u);
    EXPECT_EQ(p.options.min_size, 1024u);
    EXPECT_EQ(p.options.max_size, 0x100000u);
    EXPECT_TRUE(p.options.quiet);
    EXPECT_TRUE(p.options.no_check);
}

TEST(CommandLine, Defaults) {
    const Parsed p = Parse({"scan", "a.img"});
    ASSERT_EQ(p.code, -1) << p.err;
    EXPECT_EQ(p.options.order, (std::vector<std::string>{"jpeghound", "formathound", "markhound"}));
    EXPECT_FALSE(p.options.nested);
    EXPECT_FALSE(p.options.json);
    EXPECT_TRUE(p.options.plugins_dir.empty());
    EXPECT_FALSE(p.options.no_check);
    EXPECT_EQ(p.options.min_size, 0u);
    EXPECT_EQ(p.options.max_size, ~uint64_t{0});
    EXPECT_EQ(p.options.max_files, 10000000u);
    EXPECT_EQ(p.options.command_line, "hound scan a.img");
}

TEST(CommandLine, CommandLineIsQuotedForTheShell) {
    const Parsed p = Parse({"scan", "my disk.img", "it's"});
    ASSERT_EQ(p.code, -1);
    EXPECT_EQ(p.options.command_line, "hound scan 'my disk.img' 'it'\\''s'");
}

TEST(CommandLine, MistakesExitWithTwoAndOneLine) {
    const std::vector<std::vector<const char*>> rows = {
        {},
        {"scan"},
        {"scan", "a", "--bogus"},
        {"scan", "a", "--min-size", "lots"},
        {"scan", "a", "--max-size", "-1"},
        {"scan", "a", "--min-size", "10", "--max-size", "5"},
        {"scan", "a", "--order", "x,x"},
        {"scan", "a", "--order", "../evil"},
        {"scan", "a", "--out"},
        {"scan", "a", "--hash", "sha256,crc32"},
        {"scan", "a", "--range", "5:5"},
        {"scan", "a", "--range", "100"},
        {"scan", "a", "b", "--range", "0:100"},
        {"scan", "a", "--part", "0/3"},
        {"scan", "a", "--part", "4/3"},
        {"scan", "a", "--part", "1/1000001"},
        {"scan", "a", "--part", "1/2", "--range", "0:1"},
        {"join"},
        {"scan", "a", "--out-append"},  // without --out
        {"scan", "a", "--max-files", "9"},  // without --out
        {"scan", "a", "--out", "o", "--max-files", "many"},
        {"frobnicate"},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        const Parsed p = Parse(args);
        EXPECT_EQ(p.code, kExitUsage);
        EXPECT_EQ(p.err.rfind("hound: ", 0), 0u) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
    }
}

// File names that the command line cannot take as they stand get a line
// that says what to give instead.
TEST(CommandLine, FileNamesThatLookLikeOptionsSayWhatToGive) {
    const struct {
        std::vector<const char*> args;
        const char* message;  // "": parsed, the file is "-dash.img"
    } rows[] = {
        {{"scan", "-"}, "hound: FILE: '-' would be the standard input, which hound cannot scan"},
        {{"scan", "-dash.img"}, "hound: '-dash.img' is not an option of hound scan; to scan a file of that name, "
                                "give './-dash.img' or put -- in front of the file names\n"},
        {{"scan", "a.img", "-dash.img", "-q"}, "give './-dash.img' or put --"},
        {{"scan", "-q", "--", "-dash.img"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.back());
        const Parsed p = Parse(row.args);
        EXPECT_EQ(p.code, *row.message == '\0' ? -1 : kExitUsage);
        EXPECT_NE(p.err.find(row.message), std::string::npos) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), *row.message == '\0' ? 0 : 1) << p.err;
        if (*row.message == '\0') {
            EXPECT_EQ(p.options.files, (std::vector<std::string>{"-dash.img"}));
        }
    }
}

TEST(CommandLine, HelpNamesEveryOptionAndExitsWithZero) {
    for (const auto& args : std::vector<std::vector<const char*>>{{"--help"}, {"scan", "--help"}}) {
        const Parsed p = Parse(args);
        EXPECT_EQ(p.code, 0);
        for (const char* option : {"--plugins", "--order", "--nested", "--json", "--dfxml", "--out",
                                   "--out-append", "--min-size", "--max-size", "--quiet", "--no-check", "--signs",
                                   "--hash", "--range", "--part", "--max-files", "FILE"}) {
            EXPECT_NE(p.out.find(option), std::string::npos) << option;
        }
    }
    const Parsed version = Parse({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_NE(version.out.find(kHoundVersion), std::string::npos);
}

}  // namespace
