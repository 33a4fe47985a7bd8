// The report stage of a scan: the items of one input, as the scan hands them
// over in file order, are named, hashed, extracted, printed and added to the
// spooled reports. Nothing per item is kept.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>

#include "host/base/interrupt.h"
#include "host/base/reader.h"
#include "host/options.h"
#include "host/report/gallery.h"
#include "host/report/out_folder.h"
#include "host/report/report.h"
#include "host/report/spool.h"
#include "host/report/table_stream.h"
#include "host/report/thumbnail_queue.h"

class Diagnostics;

// Where a run's results go besides the standard output.
struct ReportFiles {
    OutFolder out_folder;            // --out, held under its lock
    Spool dfxml_items, audit_items;  // the DFXML objects and audit lines, on disk until the end
    Gallery gallery;                 // --out: index.html
    bool extraction_failed = false;  // a write failed: nothing more is extracted in the run
};

// The standard output: a failed write is told once; nothing more is printed.
class Stdout {
public:
    Stdout(std::ostream& out, Diagnostics& diag) : out_(out), diag_(diag) {}
    std::ostream& stream() { return out_; }
    void Line(const std::string& text);
    void Flush();

private:
    std::ostream& out_;
    Diagnostics& diag_;
    bool failed_ = false;
};

// What the report stage of every input shares.
struct ReportSinks {
    ReportFiles& files;
    Stdout& out;
    Diagnostics& diag;
    StopRequest& stop;
};

// Writes the gallery's new items when a second has passed, or at once when
// now; a failure is told once, and the gallery is then left as it is.
void FlushGallery(ReportSinks sinks, bool now);

class ItemReport {
public:
    // file: the input's report, which counts what goes out; it outlives this.
    ItemReport(const Options& options, const MappedData& data, const std::vector<std::string>& plugin_names,
               FileReport* file, ReportSinks sinks);
    // Gives up the thumbnails not yet made; the gallery gets every record.
    ~ItemReport();
    ItemReport(const ItemReport&) = delete;
    ItemReport& operator=(const ItemReport&) = delete;
    // pieces: the runs of an item carving found in pieces (around a file
    // system's metadata blocks), or null for one in place.
    void Add(const Item& item, std::shared_ptr<const FsFile> pieces = nullptr);
    // A file that a file system lists; carved: the item carving found at its
    // start, whose type and check it takes, or null.
    void AddFile(const FsFile& file, const Item* carved);
    // After the input's scan: the table's last lines and the part's line.
    void Finish();

private:
    std::string NameOf(const Item& item, const std::string& extension);
    // "fs/<volume>/<path>", made safe and never one taken.
    std::string FileName(const FsFile& file);
    // listed: a file that a file system lists, which the truncated-item rule does not hide.
    Unread LeftUnread(const Item& item, bool listed = false);
    // The first done bytes of a piece of a file leave memory once read, as an
    // item's do; nothing for bytes held in memory.
    void DropPiecePages(const Piece& piece, uint64_t done);
    // Hashes, extracts and writes out an item made ready by Add or AddFile.
    void Report(ReportedItem& reported);
    void Extract(ReportedItem* reported);
    // The gallery's records whose thumbnails are done, into the gallery.
    void AddReadyRecords();
    // The input shrank while the item's bytes were read: no digest, no file.
    void LeftUnreadByShrinking(ReportedItem* reported, bool extract);

    const Options& options_;
    const MappedData& data_;
    const std::vector<std::string>& plugin_names_;
    FileReport& file_;
    ReportSinks sinks_;
    TableStream table_;
    // Names taken at the current offset: items come in offset order, so only
    // items at one offset can share a name.
    std::set<std::string> names_;
    uint64_t names_offset_ = 0;
    std::set<std::string> file_names_;  // names taken by listed files
    // The extraction rule (see LeftUnread).
    uint64_t truncated_start_ = 0, truncated_end_ = 0;
    uint64_t budget_ = 0;  // bytes that may still be extracted from the input
    uint64_t files_ = 0;   // with --out: items whose bytes the rule let through
    bool thumbnail_ = false;  // the item being reported is a picture that was extracted
    std::unique_ptr<ThumbnailQueue> thumbnails_;  // with --out: the gallery's records
    // What a stop seen here interrupted, for the line that tells it.
    const std::string while_scanning_, while_hashing_;
};
