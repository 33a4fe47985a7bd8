// The command line of hound: "hound scan FILE... [options]" and
// "hound signs FILE [--json]".
#pragma once
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <string>
#include <vector>

#include "host/base/byte_range.h"

constexpr const char* kHoundVersion = "0.1.0";

enum class Command : uint8_t { kScan, kSigns, kJoin };

constexpr uint64_t kDefaultMaxFiles = 10000000;

struct Options {
    Command command = Command::kScan;
    std::string signs_file;        // hound signs: the signature file
    std::vector<std::string> files;  // hound scan: inputs; hound join: the parts' JSON lines
    std::string plugins_dir;  // empty: the folder of the hound executable
    std::string scan_signs;   // hound scan --signs: markhound's signature file; empty: its own
    std::vector<std::string> order;
    bool nested = false;
    bool json = false;
    std::string dfxml;  // empty: no DFXML report
    std::string out;    // empty: nothing extracted
    bool out_append = false;  // --out may hold earlier runs' files
    uint64_t max_files = kDefaultMaxFiles;  // --out: files extracted from one input at most
    uint64_t min_size = 0;
    uint64_t max_size = std::numeric_limits<uint64_t>::max();
    bool quiet = false;
    unsigned threads = 0;     // scan threads; 0: one per core
    bool no_check = false;  // report the plug-ins' answers unchecked
    bool exhaustive = false;  // ask every plug-in at every position (no candidate filters)
    // Files that file systems on the input list are reported by their names;
    // carving then looks only where no allocated file lies, unless carve_all.
    bool no_fs = false;
    bool carve_all = false;
    bool raw = false;  // take every input as plain bytes, also one that looks like an evidence image
    ScanPart part;  // --range or --part: the positions whose items are reported
    std::vector<std::string> hashes;  // digests of each item, e.g. {"sha256"}
    std::string command_line;  // the arguments as given, for the reports
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitErrors = 1;  // some input, plug-in or output failed
constexpr int kExitUsage = 2;   // bad command line, or no plug-in to ask

// Plug-in names separated by commas; each of [A-Za-z0-9_-], none twice.
bool ParseOrder(const std::string& text, std::vector<std::string>* names, std::string* error);

// Digest names separated by commas, each known and none twice; "none"
// for no digest.
bool ParseHashList(const std::string& text, std::vector<std::string>* names, std::string* error);

// Parses argv into *options. Returns -1 when the command should run, otherwise
// the exit code (help and version texts go to out, errors to err).
int ParseCommandLine(int argc, const char* const* argv, Options* options, std::ostream& out,
                     std::ostream& err);
