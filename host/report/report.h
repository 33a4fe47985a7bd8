// What a run found, kept for the table, JSON lines, DFXML and the audit.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <memory>

#include "host/base/item.h"
#include "host/filesystem/file_system.h"
#include "host/report/hashes.h"

// Why an item's bytes were left unread (neither extracted nor hashed), or
// with --out why the item was not extracted. The first three are the
// extraction rule's (item_report.cpp): the audit counts such items instead
// of listing them.
enum class Unread : uint8_t {
    kNo,
    kInsideTruncated,  // it starts inside an earlier truncated item
    kOverBound,        // the bytes read from the input reached their bound
    kFileBound,        // the files extracted from the input reached --max-files
    kShrank,           // the input became shorter while its bytes were read
    kWriteFailed,      // a write failed, then or before: nothing more is extracted in the run
    kStopped,          // a stop signal came while it was written
    kOverwritten,      // a deleted file whose bytes now hold other data
};

// True for the reasons of the extraction rule.
inline bool ByExtractionRule(Unread unread) {
    return unread == Unread::kInsideTruncated || unread == Unread::kOverBound || unread == Unread::kFileBound;
}

// The text of the JSON fields "not_extracted" and "not_hashed"; inside_at:
// the offset of the truncated item for kInsideTruncated, the signal's number
// for kStopped.
std::string UnreadText(Unread unread, uint64_t inside_at);
// The code of such a text (kNo for "" or a text that is none of them), with
// the truncated item's offset or the signal in *inside_at.
Unread UnreadCode(std::string_view text, uint64_t* inside_at);

struct ReportedItem {
    Item item;
    std::string name;      // "<ext>/<file name>": its place below the output folder
    bool written = false;  // extracted to that place
    Unread not_extracted = Unread::kNo;  // with --out: why it was not
    Unread not_hashed = Unread::kNo;     // without --out: why no digest was taken, by the same rule
    uint64_t inside_at = 0;  // for kInsideTruncated: the truncated item's offset; for kStopped: the signal
    std::vector<Digest> digests;  // of the bytes in the file, in the order asked
    // A file that a file system lists: its name, metadata and runs; null for
    // a carved item.
    std::shared_ptr<const FsFile> fs;
    // A deleted file whose blocks an allocated file now uses, or whose bytes
    // fail their format's check: its data is not the file's any more.
    bool overwritten = false;
};

// A rejection as the audit counts it: the checker's row and its reason code.
using Rejection = std::pair<uint8_t, uint8_t>;

struct FileReport {
    std::string path;   // as given on the command line
    uint64_t size = 0;  // of the media: an evidence image's disk, not its files
    // An evidence image: its format ("EWF", "split raw", "VMDK", "VHD",
    // "AFF"), its files and the digests it records of its media; empty for
    // a plain file.
    std::string container;
    std::vector<std::string> segments;
    std::vector<std::pair<std::string, std::string>> acquisition_hashes;
    uint64_t unreadable = 0;  // bytes of the media that could not be read
    // The volumes on the media and what was read of their file systems;
    // empty when none was read.
    std::vector<FsVolume> volumes;
    // Items that are files the file systems name: all, deleted, overwritten.
    uint64_t named = 0, named_deleted = 0, named_overwritten = 0;
    std::string stem;   // safe file-name stem, unique within the run
    std::string error;  // not empty when the file could not be scanned
    std::string cut_short;  // not empty when its scan ended early: why
    std::vector<ReportedItem> items;
    // --range or --part: the items of positions [part_begin, part_end), then
    // those that the scan finds behind part_end until, at next_part_from, it
    // meets the scan of the part behind (hound join puts parts together).
    bool part = false;
    uint64_t part_begin = 0, part_end = 0, next_part_from = 0;
    // Items that plug-ins reported and checkers found invalid, counted by
    // checker and reason.
    std::map<Rejection, uint64_t> rejected;
    // Items whose bytes the extraction rule left unread (see item_report.cpp):
    // neither extracted nor hashed.
    uint64_t inside_truncated = 0;
    uint64_t over_bound = 0;
    uint64_t file_bound = 0;  // with --out: past --max-files
    // Items that went out as they were found instead of being kept in items.
    uint64_t streamed = 0;
    uint64_t streamed_truncated = 0;
    std::map<std::string, uint64_t> streamed_types;  // by safe extension
};

struct RunReport {
    std::string command_line;
    std::string started;  // UTC, ISO 8601
    double seconds = 0;
    std::string options;                    // one line: the settings in effect
    std::vector<std::string> plugin_names;  // indexed by Item::plugin
    std::vector<std::string> plugin_states; // one line per plug-in, for the audit
    std::string out_dir;                    // empty: nothing extracted
    bool checked = false;                   // the check stage was on
    std::vector<FileReport> files;
    std::vector<std::string> messages;      // every diagnostic line of the run
};
