// A file or block device mapped read-only into memory, with 64-bit sizes.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/base/reader.h"

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps path. On failure returns false with a one-line reason in *error
    // (missing, unreadable, a folder, not a file, empty, cannot be mapped).
    bool Open(const std::string& path, std::string* error);
    // Maps the pieces of a split image at consecutive addresses, as one
    // file. Each piece but the last must hold whole pages; false with a
    // reason in *error otherwise, or when one cannot be mapped.
    bool OpenPieces(const std::vector<std::string>& paths, std::string* error);

    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

    // A file that another program shortens while it is mapped raises SIGBUS
    // at the first read of a page past its new end. hound catches that
    // fault: the pages from there to the end of the mapping are replaced by
    // pages of zeros, the read goes on, and the mapping is marked as shrunk.
    // True once it is so marked, or once the file's size, asked now, is
    // smaller than mapped: from then on its bytes cannot be trusted.
    // Thread-safe.
    bool Shrank() const;
    // The mark alone, cheap enough to poll at every position.
    const std::atomic<bool>& shrank_flag() const;
    // The file's size now (its mapped size when it cannot be asked).
    uint64_t SizeNow() const;

private:
    void Close();
    std::atomic<bool>& Mark() const;

    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    int fd_ = -1;         // kept open to ask the size
    // The pieces of a split image, kept open to ask their sizes, and their
    // sizes when mapped; empty for one file.
    std::vector<int> piece_fds_;
    std::vector<uint64_t> piece_sizes_;
    int watch_ = -1;      // the slot of the SIGBUS handler's table; -1: none free
    mutable std::atomic<bool> unwatched_shrank_{false};  // the mark without a slot
};

// True when data is the mapping of a file (MappedData::file) that shrank.
inline bool Shrank(const MappedData& data) { return data.file != nullptr && data.file->Shrank(); }
