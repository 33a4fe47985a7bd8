// The file systems on an input, read with The Sleuth Kit: the partition
// table (DOS, GPT, ...) and each volume's file system (FAT, exFAT, NTFS,
// ext2/3/4, HFS+, ISO 9660, ...). Each allocated file, and each deleted file
// whose metadata still names its data, becomes one FsFile with its path,
// times and byte runs in the media; the runs of the allocated files tell the
// scan which space the file systems still use.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/base/reader.h"

struct TSK_FS_INFO;

// Bytes of a file in the media; a sparse run reads as zeros.
struct FsRun {
    uint64_t offset = 0;  // in the media; unused when sparse
    uint64_t length = 0;
    bool sparse = false;
};

// The volume name of a file system that fills the whole input.
constexpr const char* kWholeVolume = "fs";

struct FsFile {
    std::string volume;  // "p1", "p2", ... by partition; kWholeVolume
    std::string fs_type; // "fat32", "ntfs", "ext4", ...
    std::string path;    // "/DCIM/IMG_0001.JPG"
    uint64_t inode = 0;  // inode, MFT entry or directory entry address
    bool allocated = true;
    // A deleted file some of whose bytes now belong to an allocated file.
    bool overwritten = false;
    uint64_t size = 0;   // bytes, as the metadata gives it
    // Seconds since 1970 UTC; 0: not known.
    int64_t mtime = 0, atime = 0, ctime = 0, crtime = 0;
    // The data: runs in file order adding up to size, or for data held in
    // the metadata itself (an NTFS resident file) or stored compressed, the
    // bytes themselves.
    std::vector<FsRun> runs;
    std::vector<uint8_t> bytes;
    bool held = false;  // the data is in bytes, not in runs

    // Where the item stands in the media: its first run, or the start of its
    // volume for held data.
    uint64_t offset = 0;
    // A file a file system names; false for an item carving found in pieces.
    bool Listed() const { return !path.empty(); }
    // One run in the media from offset: the bytes can be read in place.
    bool Contiguous() const { return !held && runs.size() == 1 && !runs[0].sparse; }
};

// The pieces of file's bytes in order, pointing into data or into the file.
std::vector<Piece> FilePieces(const MappedData& data, const FsFile& file);

// A volume as the report tells it.
struct FsVolume {
    std::string name;      // as FsFile::volume
    uint64_t offset = 0;   // in the media
    uint64_t length = 0;
    std::string fs_type;   // empty: no file system that can be read
    uint32_t block_size = 0;
    std::string problem;   // why not, when fs_type is empty
    uint64_t files = 0, deleted = 0;
};

// True when the first bytes of data hold the mark of a partition table or
// of a file system that The Sleuth Kit reads (a boot sector's 55 AA, the
// ext, HFS, ISO 9660, UFS, APFS, Mac, BSD or Sun marks): only then is it
// worth reading, which costs a process of its own.
bool MayHoldFileSystem(const MappedData& data);

// A sorted list of disjoint byte ranges [begin, end) of the media.
class Extents {
public:
    struct Range {
        uint64_t begin, end;
    };
    void Add(uint64_t begin, uint64_t end) {
        if (end > begin) ranges_.push_back({begin, end});
    }
    // Sorts and merges what was added.
    void Seal();
    bool Contains(uint64_t position) const;
    bool Overlaps(uint64_t begin, uint64_t end) const;
    bool empty() const { return ranges_.empty(); }
    const std::vector<Range>& ranges() const { return ranges_; }
    // The parts of [begin, end) outside these ranges, in order; a range
    // shorter than min_skip does not split them.
    std::vector<Range> Gaps(uint64_t begin, uint64_t end, uint64_t min_skip) const;

private:
    std::vector<Range> ranges_;
};

struct FileSystemLimits {
    uint64_t max_files = 4'000'000;          // entries kept from all volumes
    uint64_t max_held_bytes = 64ull << 20;   // resident and decompressed data kept in memory
    uint64_t max_held_file = 8ull << 20;     // a compressed file larger than this is not listed
};

class FileSystems {
public:
    FileSystems();
    ~FileSystems();
    FileSystems(const FileSystems&) = delete;
    FileSystems& operator=(const FileSystems&) = delete;

    // Reads the partition table and file systems on data (the media); false
    // when there is none that can be read.
    bool Read(const MappedData& data, const FileSystemLimits& limits = {});

    // What Read found, as bytes that another process can take back; false
    // from Restore for bytes that are not such a listing of media of that size.
    std::string Save() const;
    bool Restore(const std::string& bytes, uint64_t media_size);

    const std::vector<FsVolume>& volumes() const { return volumes_; }
    // Sorted by offset, then path.
    const std::vector<FsFile>& files() const { return files_; }
    // The bytes that allocated files, and file-system metadata kept in files,
    // use: where carving would only find those files again.
    const Extents& allocated() const { return allocated_; }
    // The volumes without a readable file system: carved whole.
    const Extents& unread_volumes() const { return unread_; }
    // For an item that carving found at offset: where it lies at a block
    // boundary in the free space of an ext2 or ext3 volume, the runs of its
    // first length bytes of data as those file systems lay a file out, around
    // the indirect blocks they put after its 12th data block and every block
    // size / 4 data blocks after that; empty elsewhere.
    std::vector<FsRun> AroundIndirectBlocks(uint64_t offset, uint64_t length) const;
    // Not empty when a limit cut the listing short: one line.
    const std::string& limited() const { return limited_; }

private:
    struct Image;
    // opened: the volume's file system where it is open already.
    void ReadVolume(const std::string& name, uint64_t offset, uint64_t length, const FileSystemLimits& limits,
                    TSK_FS_INFO* opened = nullptr);

    std::unique_ptr<Image> image_;
    std::vector<FsVolume> volumes_;
    std::vector<FsFile> files_;
    Extents allocated_, unread_;
    std::string limited_;
    uint64_t held_bytes_ = 0;
};
