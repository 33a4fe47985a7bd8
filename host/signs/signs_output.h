// "hound signs FILE [--json]": the report of signs_report.h as text or JSON
// lines, and the command that makes it.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "host/signs/signs_report.h"

// Exit codes of "hound signs".
constexpr int kSignsSome = 0;        // at least one signature results
constexpr int kSignsNone = 1;        // the file gives no signature
constexpr int kSignsUnreadable = 2;  // the file cannot be read

// Readable text: the files read, the signatures in list order, the sections
// passed over, the warnings, and a closing count.
void WriteSignsText(std::ostream& out, const SignsReport& report);

// One JSON object per line: "type" is "file", "signature", "passed_over",
// "warning", and last "summary".
void WriteSignsJson(std::ostream& out, const SignsReport& report);

// Explains the signature file at path (native, relative to the working
// folder or absolute) as reader, the plug-in that reads signature files,
// reads it; the report goes to out, a failure line to err.
int RunSigns(const std::string& path, const std::string& reader, bool json, std::ostream& out,
             std::ostream& err);

// What the loader passes over in the signature file at path, for the
// messages of a scan: one line each, "<file> [<section>]: <cause>" as
// "hound signs" says it. The file missing or unreadable, includes not found
// or not opened, sections beyond the name block and sections that give no
// signature are told; sections switched off on purpose, and pending
// signatures that a later section completes, are not.
std::vector<std::string> SignsScanProblems(const std::string& path, const std::string& reader);
