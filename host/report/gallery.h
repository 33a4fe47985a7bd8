// The gallery of an --out folder: index.html, a page that shows the items
// by type with their thumbnails, players or links, and their offsets, sizes,
// checks and digests. It needs no server and loads nothing from elsewhere.
//
// The items go into DIR/gallery/items-<stem>-<n>.js, each a few hundred
// items (a script that hands them to the page); the page names every such
// file in the folder. The file being filled and the page are written again
// at most once a second while a scan runs, so that the page shows what has
// been found so far, and at the end. Runs that add to a folder
// (--out-append) and the parts of one scan write their own files, so the
// page shows them all; hound join replaces the parts' files with its own.
// Every text is escaped: the page builds its elements with text, never
// with markup from the data, and links only to the extracted files.
#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "host/report/report.h"

// Below the --out folder: the item files, and the thumbnails by the
// extracted files' names ("gallery/thumbs/jpg/x.jpg.jpg").
constexpr const char* kGalleryFolder = "gallery";
std::string ThumbnailName(const std::string& name);

// The record of one item: its JSON object for the page. thumbnail: a
// thumbnail was made for it.
std::string GalleryRecord(const FileReport& file, const ReportedItem& item, const std::string& plugin,
                          bool thumbnail);

class Gallery {
public:
    // Makes DIR/gallery (and refuses one that is not a plain folder). stem
    // names this run's item files; files named "items-<stem>..." that an
    // earlier run left are replaced. "" when ready, else the reason.
    std::string Open(const std::string& dir, const std::string& stem);
    bool is_open() const { return !dir_.empty(); }
    // Removes the item files whose names begin with "items-<prefix>".
    void RemoveFiles(const std::string& prefix);
    void Add(std::string record);
    // Writes what is new when a second has passed (or at once when now);
    // "" when done, else the first failure (after which nothing is written).
    std::string Flush(bool now);

private:
    std::string WriteChunk();
    std::string WritePage();

    std::string dir_;    // the --out folder
    std::string stem_;
    std::vector<std::string> records_;  // of the file being filled
    size_t chunk_ = 0;                  // its number
    bool dirty_ = false;
    bool failed_ = false;
    std::chrono::steady_clock::time_point written_{};
};
