// hound join: the JSON lines of the parts of a scan (--range, --part) put
// together into the JSON lines of one whole scan.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

// Reads the parts' JSON lines from paths ("-" for stdin), in any order,
// and writes the joined item lines to out. Items that a part reports but
// the whole scan does not (it was still inside an item of an earlier part
// there) are left out, and their extracted files removed. Returns the exit
// code; a file whose parts do not tile it from 0 to its end gets one line
// on err and no output.
int RunJoin(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err);
