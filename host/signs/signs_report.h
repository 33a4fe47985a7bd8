// "hound signs": what markhound's loader makes of a signature file and the
// files it includes. The loader is run with an observer; what it builds and
// everything it passes over is gathered here, with the place it came from.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/signs/signs_reasons.h"

// A file (native path) and, when there is one, a section in it.
struct SignsPlace {
    std::string file;
    std::string section;
    bool operator==(const SignsPlace& other) const {
        return file == other.file && section == other.section;
    }
};

struct SignsFile {
    std::string path;
    uint32_t depth = 0;      // 0 for the file asked about
    SignsPlace included_by;  // the include section that read it
};

struct SignsSignature {
    bool bounded = false;
    std::string name, ext;
    std::string pattern;       // hex bytes, "??" for a wildcard
    std::string end_pattern;   // bounded; empty: the start pattern ends the item too
    uint32_t exact_bytes = 0;  // exact elements of pattern
    uint64_t size_offset = 0, size_width = 0, size_addon = 0;  // sized
    uint64_t limit_size = 0;                                   // bounded
    uint32_t start_offset = 0, end_offset = 0;                 // bounded
    SignsPlace from;                                           // the section that completed it
    SignsPlace created_in;  // the section that created it, when another one
};

// What became of the sized signature that a section left pending.
enum class SignsOutcome : uint8_t { kNone, kCompleted, kDroppedByBounded, kDroppedAtEnd };

// "", "completed", "dropped_by_bounded", "dropped_at_end": the JSON field's text.
const char* SignsOutcomeName(SignsOutcome outcome);

// A section or include passed over, or a warning about one.
struct SignsFinding {
    SignsPlace where;
    SignsReason reason = SignsReason::kNone;
    std::string key;                 // the key concerned, or empty
    std::string message;             // one sentence for people, without the place
    std::string token;               // token warnings: the token
    uint64_t number = 0;             // size width, section names not read
    std::vector<std::string> paths;  // includes: the files tried or refused
    // Sections whose sized signature stayed pending: what became of it, and where.
    SignsOutcome outcome = SignsOutcome::kNone;
    SignsPlace outcome_place;
};

struct SignsReport {
    std::string reader;    // the plug-in that reads signature files, named in the texts
    std::string file;      // native path of the file asked about
    bool missing = false;  // the loader found no such file
    std::vector<SignsFile> files;
    std::vector<SignsSignature> signatures;  // in list order
    std::vector<SignsFinding> passed_over;
    std::vector<SignsFinding> warnings;
};

// Whether a scan tells the finding (see SignsScanProblems): files and
// includes that give nothing, names beyond the name block, sections without
// a usable signature; not sections switched off on purpose, pending
// signatures that a later section completes, or warnings about values.
bool SignsToldDuringScan(const SignsFinding& finding);

// Loads the signature file at native_path (absolute) as markhound would and
// explains the result. False with *error set when the path cannot be given
// to the loader (too long for its 260-character paths).
bool ExplainSignatureFile(const std::string& native_path, SignsReport* report, std::string* error);
