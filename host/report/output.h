// The output forms: a table for people, JSON lines, a DFXML report, and the
// audit summary written beside extracted items.
#pragma once
#include <iosfwd>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "host/report/report.h"

// The table of one scanned file: a heading line, a header row, one row per
// item (offset in hex and decimal, size, extension, description, plug-in,
// flags, and where a file system was read, the file's volume and path).
void PrintTable(std::ostream& out, const FileReport& file,
                const std::vector<std::string>& plugin_names);

// A row of the table: the header, or an item's cells.
constexpr int kTableColumns = 8;
struct TableRow {
    std::string cells[kTableColumns];
};
// paths: the table has a path column (a file system was read).
TableRow TableHeader(bool paths);
TableRow TableCells(const ReportedItem& item, const std::string& plugin);
// A row padded to widths (display columns), without the line end.
std::string TableLine(const TableRow& row, const size_t (&widths)[kTableColumns]);
// What found the item: the file system's type for a listed file, else the plug-in's name.
const std::string& ItemFinder(const ReportedItem& item, const std::vector<std::string>& plugin_names);
// The heading line of a file's table, without the line end: the count of
// items (kept and streamed) and of the truncated ones.
std::string TableHeading(const FileReport& file);

// One JSON object, as JsonLine writes it.
nlohmann::ordered_json JsonItem(const FileReport& file, const ReportedItem& item, const std::string& plugin,
                                const std::string& out_dir);
// One JSON object, without the line end.
std::string JsonLine(const FileReport& file, const ReportedItem& item, const std::string& plugin,
                     const std::string& out_dir);

// The closing JSON object of a part's items (--range, --part): what hound
// join needs to put the parts of one file together. options, when given, is
// the scan's options that change which items are found; parts with other
// options do not join.
std::string PartJsonLine(const FileReport& file, const std::string& options = "");

// The line that says which positions a part covered.
std::string PartText(const FileReport& file);

// Text for XML content and attribute values: valid UTF-8, markup characters
// as entities, characters that XML 1.0 forbids replaced by '?'.
std::string XmlEscape(std::string_view text);

// The DFXML document: one source per input, one fileobject per item.
std::string DfxmlReport(const RunReport& run);

// audit.txt: inputs, options, plug-ins, one line per item, counts per type,
// messages and time taken.
std::string AuditText(const RunReport& run);

// The reports in pieces, for a run that does not keep its items: the DFXML
// document is DfxmlHead, a DfxmlObject per item and kDfxmlTail; the audit is
// AuditHead, an AuditItemLine per item and AuditTail. Counts include the
// items streamed (FileReport::streamed). An item that the extraction rule
// left out (ByExtractionRule) gets no audit line; AuditTail counts it.
std::string DfxmlHead(const RunReport& run);
std::string DfxmlObject(const FileReport& file, const ReportedItem& item, const std::string& plugin);
constexpr const char* kDfxmlTail = "</dfxml>\n";
std::string AuditHead(const RunReport& run);
std::string AuditItemLine(const FileReport& file, const ReportedItem& item, const std::string& plugin);
std::string AuditTail(const RunReport& run);

// With --out, the bytes extracted from an input stay within this many times its size.
constexpr uint64_t kExtractBound = 4;

// "0x" and at least 8 hexadecimal digits.
std::string HexOffset(uint64_t offset);

// A check state's text in every output form ("" for kOff), and back.
const char* CheckStateName(CheckState state);
CheckState CheckStateCode(std::string_view name);
