// The output forms: the table, JSON lines, DFXML and the audit text.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/report/display_width.h"
#include "host/report/output.h"

namespace {

const std::vector<std::string> kPlugins = {"photohound", "markhound"};

ReportedItem Reported(uint64_t offset, uint64_t size, uint64_t in_file, const std::string& ext,
                      const std::string& description, uint32_t plugin, const std::string& name) {
    ReportedItem reported;
    reported.item.offset = offset;
    reported.item.size = size;
    reported.item.size_in_file = in_file;
    reported.item.truncated = in_file < size;
    reported.item.extension = ext;
    reported.item.description = description;
    reported.item.plugin = plugin;
    reported.name = name;
    return reported;
}

FileReport SampleFile() {
    FileReport file;
    file.path = "cases/disk.img";
    file.size = 0x20000;
    file.stem = "disk.img";
    file.items.push_back(Reported(0x1000, 831, 831, "jpg", "JPG image", 0, "jpg/disk.img-0000000000001000.jpg"));
    file.items.push_back(Reported(0x1FF00, 4096, 256, "bmp", "BMP <picture> & \"more\"", 1, "bmp/disk.img-000000000001ff00.bmp"));
    return file;
}

TEST(TableOutput, HeadingHeaderAndOneAlignedRowPerItem) {
    std::ostringstream out;
    PrintTable(out, SampleFile(), kPlugins);
    const std::string expected =
        "cases/disk.img: 2 items in 131072 bytes (1 truncated)\n"
        "  offset (hex)  offset  size  ext  description             plug-in     flags\n"
        "  0x00001000      4096   831  jpg  JPG image               photohound\n"
        "  0x0001ff00    130816  4096  bmp  BMP <picture> & \"more\"  markhound   truncated (256 of "
        "4096 bytes in the file)\n";
    EXPECT_EQ(out.str(), expected);
}

TEST(TableOutput, ColumnsFollowTheDisplayWidthOfWideCharacters) {
    FileReport file;
    file.path = "x";
    file.size = 9;
    file.items.push_back(Reported(1, 2, 2, "jpg", "\u753B\u50CF\u30D5\u30A1\u30A4\u30EB", 0, "a"));
    file.items.push_back(Reported(3, 4, 4, "bmp", "JPG image", 1, "b"));
    std::ostringstream out;
    PrintTable(out, file, kPlugins);
    const std::string expected =
        "x: 2 items in 9 bytes\n"
        "  offset (hex)  offset  size  ext  description   plug-in     flags\n"
        "  0x00000001         1     2  jpg  \u753B\u50CF\u30D5\u30A1\u30A4\u30EB  photohound\n"
        "  0x00000003         3     4  bmp  JPG image     markhound\n";
    EXPECT_EQ(out.str(), expected);
}

TEST(TableOutput, DisplayWidthCountsColumnsNotBytes) {
    const struct {
        const char* text;
        size_t width;
    } rows[] = {
        {"", 0},
        {"abc", 3},
        {"\xC3\xA9t\xC3\xA9", 3},            // precomposed accents
        {"e\xCC\x81", 1},                      // e and a combining acute accent
        {"\xE6\xBC\xA2\xE5\xAD\x97", 4},       // two CJK ideographs
        {"\xEF\xBD\x88\xEF\xBD\x85", 4},       // fullwidth h e
        {"\xF0\x9F\x98\x80", 2},               // an emoji
        {"a\xE2\x80\x8B" "b", 2},               // a zero-width space between
        {"\xFF", 1},                            // not UTF-8: one replacement
        {"\xE6\xBC", 2},                        // a cut sequence: two replacements
        {"\xC0\x80", 2},                        // an overlong form
        {"\xED\xA0\x80", 3},                    // a surrogate
    };
    for (const auto& row : rows) EXPECT_EQ(DisplayWidth(row.text), row.width) << row.text;
}

TEST(TableOutput, NoItemsGivesTheHeadingAlone) {
    FileReport file;
    file.path = "x";
    file.size = 9;
    std::ostringstream out;
    PrintTable(out, file, kPlugins);
    EXPECT_EQ(out.str(), "x: 0 items in 9 bytes\n");
}

TEST(TableOutput, ControlCharactersFromPluginsAreNotPrinted) {
    FileReport file;
    file.path = "x\x1B]0;t\x07";
    file.items.push_back(Reported(0, 1, 1, "e\x1B[2J", "d\nnewline", 0, "bin/x"));
    std::ostringstream out;
    PrintTable(out, file, kPlugins);
    const std::string text = out.str();
    EXPECT_EQ(text.find('\x1B'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST(JsonOutput, OneObjectWithEveryField) {
    const FileReport file = SampleFile();
    ReportedItem written = file.items[1];
    written.written = true;
    const auto json = nlohmann::json::parse(JsonLine(file, written, "markhound", "out"));
    EXPECT_EQ(json["file"], "cases/disk.img");
    EXPECT_EQ(json["offset"], 0x1FF00u);
    EXPECT_EQ(json["offset_hex"], "0x0001ff00");
    EXPECT_EQ(json["size"], 4096u);
    EXPECT_EQ(json["size_in_file"], 256u);
    EXPECT_EQ(json["truncated"], true);
    EXPECT_EQ(json["ext"], "bmp");
    EXPECT_EQ(json["description"], "BMP <picture> & \"more\"");
    EXPECT_EQ(json["plugin"], "markhound");
    EXPECT_EQ(json["extracted"], "out/bmp/disk.img-000000000001ff00.bmp");
    const std::string line = JsonLine(file, file.items[0], "photohound", "");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_FALSE(nlohmann::json::parse(line).contains("extracted"));
}

TEST(JsonOutput, LargeOffsetsAndBadTextsStayValid) {
    FileReport file;
    file.path = "gr\xF6\xDF" "e.img";
    ReportedItem item = Reported(uint64_t{5} << 32, ~uint64_t{0}, 3, "\xFF", "a\"b\\c\x01", 0, "bin/x");
    const auto json = nlohmann::json::parse(JsonLine(file, item, "p", ""));
    EXPECT_EQ(json["offset"].get<uint64_t>(), uint64_t{5} << 32);
    EXPECT_EQ(json["size"].get<uint64_t>(), ~uint64_t{0});
    EXPECT_EQ(json["file"], "gr\xEF\xBF\xBD\xEF\xBF\xBD" "e.img");
    EXPECT_EQ(json["description"], "a\"b\\c\x01");
    // Paths that are not UTF-8 also carry their bytes, for hound join; others do not.
    EXPECT_EQ(json["file_bytes"], "6772f6df652e696d67");
    item.written = true;
    const auto extracted = nlohmann::json::parse(JsonLine(file, item, "p", "o\xFE"));
    EXPECT_EQ(extracted["extracted"], "o\xEF\xBF\xBD/bin/x");
    EXPECT_EQ(extracted["extracted_bytes"], "6ffe2f62696e2f78");
    EXPECT_EQ(nlohmann::json::parse(PartJsonLine(file))["file_bytes"], "6772f6df652e696d67");
    const auto plain = nlohmann::json::parse(JsonLine(SampleFile(), item, "p", "o"));
    EXPECT_FALSE(plain.contains("file_bytes"));
    EXPECT_FALSE(plain.contains("extracted_bytes"));
}

TEST(XmlText, EscapesMarkupAndDropsForbiddenCharacters) {
    const struct {
        std::string input, expected;
    } rows[] = {
        {"plain", "plain"},
        {"<a href=\"x\">&'", "&lt;a href=&quot;x&quot;&gt;&amp;&apos;"},
        {"tab\tline\nret\r", "tab\tline\nret\r"},
        {"nul\x01\x1F", "nul??"},
        {"\xEF\xBF\xBE\xEF\xBF\xBF", "??"},
        {"\xFF", "\xEF\xBF\xBD"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(XmlEscape(row.input), row.expected);
    }
}

RunReport SampleRun() {
    RunReport run;
    run.command_line = "hound scan cases/disk.img --out o";
    run.started = "2026-01-02T03:04:05Z";
    run.seconds = 1.5;
    run.options = "order=photohound,markhound";
    run.plugin_names = kPlugins;
    run.plugin_states = {"photohound  /p/photohound.so  asked", "markhound  /p/markhound.so  asked"};
    run.files.push_back(SampleFile());
    run.files[0].items[0].written = true;
    FileReport missing;
    missing.path = "gone.img";
    missing.error = "cannot open 'gone.img': No such file or directory";
    run.files.push_back(missing);
    run.messages = {missing.error};
    return run;
}

TEST(DfxmlOutput, OneFileObjectPerItemWithItsByteRun) {
    const std::string xml = DfxmlReport(SampleRun());
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dfxml", 0), 0u);
    EXPECT_NE(xml.find("<image_filename>cases/disk.img</image_filename>"), std::string::npos);
    EXPECT_EQ(xml.find("gone.img"), std::string::npos);
    EXPECT_NE(xml.find("<filename>jpg/disk.img-0000000000001000.jpg</filename>\n"
                       "    <filesize>831</filesize>"),
              std::string::npos);
    EXPECT_NE(xml.find("<byte_run offset=\"0\" img_offset=\"4096\" len=\"831\"/>"), std::string::npos);
    EXPECT_NE(xml.find("<byte_run offset=\"0\" img_offset=\"130816\" len=\"256\"/>"), std::string::npos);
    EXPECT_NE(xml.find("description=\"BMP &lt;picture&gt; &amp; &quot;more&quot;\""), std::string::npos);
    EXPECT_NE(xml.find("size=\"4096\" truncated=\"1\""), std::string::npos);
    size_t objects = 0;
    for (size_t at = xml.find("<fileobject>"); at != std::string::npos; at = xml.find("<fileobject>", at + 1)) {
        ++objects;
    }
    EXPECT_EQ(objects, 2u);
    EXPECT_EQ(xml.substr(xml.size() - 9), "</dfxml>\n");
}

TEST(AuditOutput, InputsItemsCountsMessagesAndTime) {
    const std::string audit = AuditText(SampleRun());
    for (const char* expected : {
             "command:    hound scan cases/disk.img --out o\n",
             "time taken: 1.500 s\n",
             "options:    order=photohound,markhound\n",
             "  markhound  /p/markhound.so  asked\n",
             "  cases/disk.img  131072 bytes  2 items\n",
             "  gone.img  not scanned: cannot open 'gone.img': No such file or directory\n",
             "  cases/disk.img  0x00001000  4096  831  photohound  jpg/disk.img-0000000000001000.jpg  "
             "\"JPG image\"\n",
             "(not written)",
             "truncated (256 of 4096 bytes in the file)",
             "counts per type:\n  bmp  1\n  jpg  1\n",
             "total: 2 items in 1 of 2 inputs\n",
         }) {
        EXPECT_NE(audit.find(expected), std::string::npos) << expected << "\n---\n" << audit;
    }
}

TEST(UnreadReasons, EachTextReadsBackAsItsCode) {
    const struct {
        Unread unread;
        uint64_t at;
        const char* text;
    } rows[] = {
        {Unread::kNo, 0, ""},
        {Unread::kInsideTruncated, 0x64, "inside the truncated item at 0x00000064"},
        {Unread::kOverBound, 0, "beyond 4 times the input's size"},
        {Unread::kFileBound, 0, "beyond the --max-files files of an input"},
        {Unread::kShrank, 0, "the input became shorter while it was read"},
        {Unread::kWriteFailed, 0, "the extraction stopped at a failed write"},
        {Unread::kStopped, 15, "stopped by SIGTERM"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(UnreadText(row.unread, row.at), row.text);
        uint64_t at = 99;
        EXPECT_EQ(UnreadCode(row.text, &at), row.unread);
        EXPECT_EQ(at, row.at);
    }
}

TEST(HexOffsets, AtLeastEightDigits) {
    EXPECT_EQ(HexOffset(0), "0x00000000");
    EXPECT_EQ(HexOffset(0xABCDEF), "0x00abcdef");
    EXPECT_EQ(HexOffset(uint64_t{0x1} << 32), "0x100000000");
}

}  // namespace
