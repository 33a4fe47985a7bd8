#include "host/filesystem/merge.h"

#include <utility>

FsMerge::FsMerge(const FileSystems& fs, bool carve_all, uint64_t begin, uint64_t end, FileFn on_file,
                 ItemFn on_item)
    : fs_(fs), carve_all_(carve_all), begin_(begin), end_(end), on_file_(std::move(on_file)),
      on_item_(std::move(on_item)) {}

void FsMerge::FilesBefore(uint64_t position) {
    const std::vector<FsFile>& files = fs_.files();
    for (; next_ < files.size() && files[next_].offset < position; ++next_) {
        const FsFile& file = files[next_];
        if (file.offset >= begin_ && file.offset < end_) on_file_(file, nullptr);
    }
}

void FsMerge::Carved(const Item& item, std::shared_ptr<const FsFile> pieces) {
    FilesBefore(item.offset);
    const std::vector<FsFile>& files = fs_.files();
    // Held data has no place of its own in the media: carving never finds it there.
    if (next_ < files.size() && files[next_].offset == item.offset && !files[next_].held) {
        const FsFile& file = files[next_++];
        if (file.offset >= begin_ && file.offset < end_) {
            on_file_(file, &item);
            return;
        }
    }
    if (!carve_all_ && fs_.allocated().Contains(item.offset)) return;
    on_item_(item, std::move(pieces));
}

void FsMerge::Finish() { FilesBefore(UINT64_MAX); }
