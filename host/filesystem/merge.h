// One stream of items in offset order from two finders: the files that the
// file systems list and the items that carving finds. A carved item at the
// start of a listed file is that file (it goes with it, not on its own); one
// that starts inside an allocated file's bytes is that file's content, found
// again, and is left out unless every position is to be carved.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "host/base/item.h"
#include "host/filesystem/file_system.h"

class FsMerge {
public:
    // carved: the item carving found at the file's start, or null.
    using FileFn = std::function<void(const FsFile& file, const Item* carved)>;
    // pieces: the runs of an item carving found in pieces, or null.
    using ItemFn = std::function<void(const Item& item, std::shared_ptr<const FsFile> pieces)>;

    // Files outside [begin, end) are not reported (another part has them).
    FsMerge(const FileSystems& fs, bool carve_all, uint64_t begin, uint64_t end, FileFn on_file, ItemFn on_item);
    // A carved item, in offset order; pieces: its runs where it lies in pieces.
    void Carved(const Item& item, std::shared_ptr<const FsFile> pieces = nullptr);
    // The files behind the last carved item.
    void Finish();

private:
    // Reports the files before position.
    void FilesBefore(uint64_t position);

    const FileSystems& fs_;
    const bool carve_all_;
    const uint64_t begin_, end_;
    FileFn on_file_;
    ItemFn on_item_;
    size_t next_ = 0;  // the first file not reported yet
};
