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

// Text for XML content and attribute values: valid UTF-8, markup characters
// as entities, characters that XML 1.0 forbids replaced by '?'.
std::string XmlEscape(std::string_view text);

// The DFXML document: one source per input, one fileobject per item.
std::string DfxmlReport(const RunReport& run);

// audit.txt: inputs, options, plug-ins, one line per item, counts per type,
// messages and time taken.
std::string AuditText(const RunReport& run);

// With --out, the bytes extracted from an input stay within this many times its size.
constexpr uint64_t kExtractBound = 4;

// "0x" and at least 8 hexadecimal digits.
std::string HexOffset(uint64_t offset);
