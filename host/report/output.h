// The output forms: a table for people, JSON lines, a DFXML report, and the
// audit summary written beside extracted items.
#pragma once
#include <iosfwd>
#include <string>
#include <string_view>

#include "host/report/report.h"

// The table of one scanned file: a heading line, a header row, one row per
// item (offset in hex and decimal, size, extension, description, plug-in,
// flags).
void PrintTable(std::ostream& out, const FileReport& file,
                const std::vector<std::string>& plugin_names);

// One JSON object, without the line end.
std::string JsonLine(const FileReport& file, const ReportedItem& item, const std::string& plugin,
                     const std::string& out_dir);

// The closing JSON object of a part's items (--range, --part): what hound
// join needs to put the parts of one file together.
std::string PartJsonLine(const FileReport& file);

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

// "0x" and at least 8 hexadecimal digits.
std::string HexOffset(uint64_t offset);
