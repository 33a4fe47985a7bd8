// hound join: the JSON lines of the parts of a scan (--range, --part) put
// together into the JSON lines of one whole scan.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

struct Options;

// Reads the parts' JSON lines from options.files ("-" for stdin), in any
// order, and writes the joined item lines to out. Items that a part reports
// but the whole scan does not (it was still inside an item of an earlier
// part there) are left out, and with options.out their extracted files in
// that folder removed. With options.dfxml and options.out, the DFXML report
// and DIR/audit.txt of the joined items are written as well; outputs that
// are a part or an image of the parts are refused before anything is
// written. Returns the exit code; a file whose parts do not tile it from 0
// to its end, or were scanned with different options, gets one line on err
// and no output.
int RunJoin(const Options& options, std::ostream& out, std::ostream& err);
