// A file or block device mapped read-only into memory, with 64-bit sizes.
#pragma once
#include <cstdint>
#include <string>

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps path. On failure returns false with a one-line reason in *error
    // (missing, unreadable, a folder, not a file, empty, cannot be mapped).
    bool Open(const std::string& path, std::string* error);

    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    void Close();

    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};
