#include "host/filesystem/file_system.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

namespace {

// The media as The Sleuth Kit's image layer reads it: copies from the
// mapped data, so that every kind of input (a plain file, an E01, a split
// image) is read the same way and through the same view as the scan.
struct MediaImage {
    TSK_IMG_INFO info;  // first: the library casts between the two
    const MappedData* data;
};

ssize_t ReadMedia(TSK_IMG_INFO* image, TSK_OFF_T offset, char* buffer, size_t length) {
    const MappedData& data = *reinterpret_cast<MediaImage*>(image)->data;
    if (offset < 0 || static_cast<uint64_t>(offset) >= data.size) return 0;
    const uint64_t count = std::min<uint64_t>(length, data.size - static_cast<uint64_t>(offset));
    std::memcpy(buffer, data.bytes + offset, count);
    return static_cast<ssize_t>(count);
}

void CloseMedia(TSK_IMG_INFO* image) { delete reinterpret_cast<MediaImage*>(image); }

void NoStat(TSK_IMG_INFO*, FILE*) {}

std::string LastError() {
    const char* text = tsk_error_get();
    std::string line = text != nullptr ? text : "not recognised";
    tsk_error_reset();
    // The library's messages may span lines; the report keeps one.
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

// NTFS keeps its own metadata in files of the root folder ($MFT, $LogFile,
// ...) with the first MFT entries: used space, not the user's files.
constexpr uint64_t kNtfsReservedEntries = 24;

struct WalkState {
    TSK_FS_INFO* fs;
    const MappedData* data;
    const FileSystemLimits* limits;
    std::string volume, fs_type;
    uint64_t volume_length;
    std::vector<FsFile>* files;
    Extents* allocated;
    uint64_t* held_bytes;
    std::unordered_set<uint64_t> seen;  // inodes already listed
    uint64_t deleted = 0;
    bool full = false;
};

// Adds the runs of attr (file-system blocks) to file, in media bytes, cut
// to the attribute's size; bytes past the initialised size read as zeros.
// False when a run's place is not known.
bool TakeRuns(const WalkState& state, const TSK_FS_ATTR* attr, FsFile* file) {
    const uint64_t block = state.fs->block_size;
    const uint64_t size = static_cast<uint64_t>(std::max<TSK_OFF_T>(attr->size, 0));
    uint64_t valid = size;
    if (attr->nrd.initsize > 0 && static_cast<uint64_t>(attr->nrd.initsize) < size) {
        valid = static_cast<uint64_t>(attr->nrd.initsize);
    }
    uint64_t at = 0;  // bytes of the file placed so far
    size_t steps = 0;
    for (const TSK_FS_ATTR_RUN* run = attr->nrd.run; run != nullptr && at < size; run = run->next) {
        if (++steps > 1'000'000) return false;  // a list that does not end
        if ((run->flags & TSK_FS_ATTR_RUN_FLAG_FILLER) != 0) return false;
        const uint64_t length = std::min<uint64_t>(run->len * block, size - at);
        const bool sparse = (run->flags & TSK_FS_ATTR_RUN_FLAG_SPARSE) != 0;
        const uint64_t media = static_cast<uint64_t>(state.fs->offset) + run->addr * block;
        uint64_t done = 0;
        while (done < length) {
            // Split where the initialised bytes end.
            const uint64_t part = at + done < valid ? std::min(length - done, valid - at - done) : length - done;
            FsRun piece{media + done, part, sparse || at + done >= valid};
            if (!piece.sparse && (piece.offset >= state.data->size || part > state.data->size - piece.offset)) {
                return false;  // outside the media: the metadata is wrong
            }
            FsRun* last = file->runs.empty() ? nullptr : &file->runs.back();
            if (last != nullptr && last->sparse == piece.sparse &&
                (piece.sparse || last->offset + last->length == piece.offset)) {
                last->length += part;
            } else {
                file->runs.push_back(piece);
            }
            done += part;
        }
        at += length;
    }
    return at == size;
}

// Marks the blocks of an allocated file's attribute as in use.
void MarkAllocated(WalkState& state, const TSK_FS_ATTR* attr) {
    const uint64_t block = state.fs->block_size;
    size_t steps = 0;
    for (const TSK_FS_ATTR_RUN* run = attr->nrd.run; run != nullptr && ++steps < 1'000'000; run = run->next) {
        if ((run->flags & (TSK_FS_ATTR_RUN_FLAG_FILLER | TSK_FS_ATTR_RUN_FLAG_SPARSE)) != 0) continue;
        const uint64_t begin = static_cast<uint64_t>(state.fs->offset) + run->addr * block;
        state.allocated->Add(begin, begin + run->len * block);
    }
}

// Reads the whole of a file the library must decode (resident or
// compressed) into file->bytes; false when it is too large or unreadable.
bool HoldBytes(WalkState& state, TSK_FS_FILE* entry, const TSK_FS_ATTR* attr, FsFile* file) {
    const uint64_t size = file->size;
    if ((attr->flags & TSK_FS_ATTR_RES) == 0 && size > state.limits->max_held_file) return false;
    if (*state.held_bytes + size > state.limits->max_held_bytes) return false;
    file->bytes.resize(size);
    if (size > 0 &&
        tsk_fs_file_read(entry, 0, reinterpret_cast<char*>(file->bytes.data()), size, TSK_FS_FILE_READ_FLAG_NONE) !=
            static_cast<ssize_t>(size)) {
        tsk_error_reset();
        file->bytes.clear();
        return false;
    }
    *state.held_bytes += size;
    file->held = true;
    return true;
}

TSK_WALK_RET_ENUM OnEntry(TSK_FS_FILE* entry, const char* parent, void* context) {
    WalkState& state = *static_cast<WalkState*>(context);
    if (entry->name == nullptr || entry->meta == nullptr || TSK_FS_ISDOT(entry->name->name)) return TSK_WALK_CONT;
    const TSK_FS_META& meta = *entry->meta;
    const bool name_alloc = (entry->name->flags & TSK_FS_NAME_FLAG_ALLOC) != 0;
    const bool meta_alloc = (meta.flags & TSK_FS_META_FLAG_ALLOC) != 0;
    // A deleted name whose inode now holds another file: that file is listed by its own name.
    if (!name_alloc && meta_alloc) return TSK_WALK_CONT;
    // A size far past the volume's is damage (or a sparse file hound does not
    // list): its block list is not built, which could take without bound.
    if (meta.size < 0 || static_cast<uint64_t>(meta.size) / 4 > state.volume_length) return TSK_WALK_CONT;
    const TSK_FS_ATTR* attr = tsk_fs_file_attr_get(entry);
    if (attr == nullptr) {
        tsk_error_reset();
        return TSK_WALK_CONT;
    }
    const bool allocated = name_alloc && meta_alloc;
    if (allocated && (attr->flags & TSK_FS_ATTR_NONRES) != 0) MarkAllocated(state, attr);
    if (meta.type != TSK_FS_META_TYPE_REG || meta.size <= 0) return TSK_WALK_CONT;
    if (state.fs_type == "ntfs" && meta.addr < kNtfsReservedEntries) return TSK_WALK_CONT;
    if (!state.seen.insert(meta.addr).second) return TSK_WALK_CONT;  // a second name of one file
    if (state.files->size() >= state.limits->max_files) {
        state.full = true;
        return TSK_WALK_STOP;
    }
    FsFile file;
    file.volume = state.volume;
    file.fs_type = state.fs_type;
    file.path = "/" + std::string(parent != nullptr ? parent : "") + entry->name->name;
    file.inode = meta.addr;
    file.allocated = allocated;
    file.size = static_cast<uint64_t>(meta.size);
    file.mtime = meta.mtime;
    file.atime = meta.atime;
    file.ctime = meta.ctime;
    file.crtime = meta.crtime;
    if ((attr->flags & (TSK_FS_ATTR_RES | TSK_FS_ATTR_COMP)) != 0) {
        if ((attr->flags & TSK_FS_ATTR_ENC) != 0 || !HoldBytes(state, entry, attr, &file)) return TSK_WALK_CONT;
        file.offset = static_cast<uint64_t>(state.fs->offset);
    } else if ((attr->flags & TSK_FS_ATTR_NONRES) != 0 && (attr->flags & TSK_FS_ATTR_ENC) == 0) {
        // A deleted file whose metadata no longer names its blocks is left to carving.
        if (!TakeRuns(state, attr, &file) || file.runs.empty() || file.runs[0].sparse) return TSK_WALK_CONT;
        file.offset = file.runs[0].offset;
    } else {
        return TSK_WALK_CONT;
    }
    state.deleted += !allocated;
    state.files->push_back(std::move(file));
    return TSK_WALK_CONT;
}

}  // namespace

bool MayHoldFileSystem(const MappedData& data) {
    struct Mark {
        uint64_t offset;
        std::string_view bytes;
    };
    using namespace std::string_view_literals;
    static constexpr Mark kMarks[] = {
        {510, "\x55\xAA"sv},                                   // MBR, GPT's guard MBR, FAT, NTFS, exFAT boot sectors
        {1080, "\x53\xEF"sv},                                  // ext2/3/4 superblock
        {1024, "H+"sv}, {1024, "HX"sv}, {1024, "BD"sv},         // HFS+, HFSX, HFS
        {32769, "CD001"sv},                                    // ISO 9660
        {32, "NXSB"sv},                                        // APFS
        {0, "ER"sv}, {512, "PM"sv},                            // Mac partition map
        {512, "\x57\x45\x56\x82"sv}, {64, "\x57\x45\x56\x82"sv},  // BSD disk label
        {508, "\xDA\xBE"sv}, {524, "\xEE\xDE\x0D\x60"sv},          // Sun labels
        {9564, "\x54\x19\x01\x00"sv}, {9564, "\x00\x01\x19\x54"sv},  // UFS1
        {66908, "\x19\x01\x54\x19"sv}, {66908, "\x19\x54\x01\x19"sv},  // UFS2
    };
    for (const Mark& mark : kMarks) {
        if (mark.offset + mark.bytes.size() <= data.size &&
            std::memcmp(data.bytes + mark.offset, mark.bytes.data(), mark.bytes.size()) == 0) {
            return true;
        }
    }
    return false;
}

struct FileSystems::Image {
    TSK_IMG_INFO* image = nullptr;
    TSK_VS_INFO* partitions = nullptr;
    std::vector<TSK_FS_INFO*> opened;
    ~Image() {
        for (TSK_FS_INFO* fs : opened) tsk_fs_close(fs);
        if (partitions != nullptr) tsk_vs_close(partitions);
        if (image != nullptr) tsk_img_close(image);
    }
};

FileSystems::FileSystems() = default;
FileSystems::~FileSystems() = default;

std::vector<Piece> FilePieces(const MappedData& data, const FsFile& file) {
    if (file.held) return {{file.bytes.data(), file.bytes.size()}};
    std::vector<Piece> pieces;
    for (const FsRun& run : file.runs) {
        pieces.push_back({run.sparse ? nullptr : data.bytes + run.offset, run.length});
    }
    return pieces;
}

void Extents::Seal() {
    std::sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
    std::vector<Range> merged;
    for (const Range& range : ranges_) {
        if (!merged.empty() && range.begin <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, range.end);
        } else {
            merged.push_back(range);
        }
    }
    ranges_ = std::move(merged);
}

std::vector<Extents::Range> Extents::Gaps(uint64_t begin, uint64_t end, uint64_t min_skip) const {
    std::vector<Range> gaps;
    uint64_t from = begin;
    for (const Range& range : ranges_) {
        if (range.end <= from || range.end - range.begin < min_skip) continue;
        if (range.begin >= end) break;
        if (range.begin > from) gaps.push_back({from, range.begin});
        from = range.end;
    }
    if (from < end) gaps.push_back({from, end});
    return gaps;
}

bool Extents::Contains(uint64_t position) const { return Overlaps(position, position + 1); }

bool Extents::Overlaps(uint64_t begin, uint64_t end) const {
    // The first range that ends after begin.
    const auto it = std::upper_bound(ranges_.begin(), ranges_.end(), begin,
                                     [](uint64_t at, const Range& range) { return at < range.end; });
    return it != ranges_.end() && it->begin < end;
}

void FileSystems::ReadVolume(const std::string& name, uint64_t offset, uint64_t length,
                             const FileSystemLimits& limits, TSK_FS_INFO* opened) {
    FsVolume volume;
    volume.name = name;
    volume.offset = offset;
    volume.length = length;
    TSK_FS_INFO* fs = opened != nullptr ? opened
                                        : tsk_fs_open_img(image_->image, static_cast<TSK_OFF_T>(offset), TSK_FS_TYPE_DETECT);
    if (fs == nullptr) {
        volume.problem = LastError();
        unread_.Add(offset, offset + length);
        volumes_.push_back(volume);
        return;
    }
    image_->opened.push_back(fs);
    volume.fs_type = tsk_fs_type_toname(fs->ftype);
    volume.block_size = fs->block_size;
    WalkState state{fs, nullptr, &limits, name, volume.fs_type, length, &files_, &allocated_, &held_bytes_, {}, 0, false};
    state.data = reinterpret_cast<MediaImage*>(image_->image)->data;
    const size_t before = files_.size();
    const int flags = TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC | TSK_FS_DIR_WALK_FLAG_RECURSE | TSK_FS_DIR_WALK_FLAG_NOORPHAN;
    if (tsk_fs_dir_walk(fs, fs->root_inum, static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(flags), OnEntry, &state) != 0) {
        // What was listed before the damage stays; the rest is carved.
        volume.problem = LastError();
    }
    if (state.full) limited_ = "more than " + std::to_string(limits.max_files) + " files: the rest are carved";
    volume.files = files_.size() - before;
    volume.deleted = state.deleted;
    volumes_.push_back(volume);
}

bool FileSystems::Read(const MappedData& data, const FileSystemLimits& limits) {
    image_ = std::make_unique<Image>();
    auto* media = new MediaImage();
    media->data = &data;
    image_->image = tsk_img_open_external(media, static_cast<TSK_OFF_T>(data.size), 512, ReadMedia, CloseMedia, NoStat);
    if (image_->image == nullptr) {
        delete media;
        tsk_error_reset();
        return false;
    }
    // A file system on the whole input (a partition's or a card's image), else a partition table.
    TSK_FS_INFO* whole = tsk_fs_open_img(image_->image, 0, TSK_FS_TYPE_DETECT);
    if (whole != nullptr) {
        ReadVolume(kWholeVolume, 0, data.size, limits, whole);
    } else {
        tsk_error_reset();
        image_->partitions = tsk_vs_open(image_->image, 0, TSK_VS_TYPE_DETECT);
        if (image_->partitions == nullptr) {
            tsk_error_reset();
            return false;
        }
        const TSK_VS_INFO* table = image_->partitions;
        unsigned number = 0;
        for (TSK_PNUM_T i = 0; i < table->part_count; ++i) {
            const TSK_VS_PART_INFO* part = tsk_vs_part_get(table, i);
            if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) continue;
            const uint64_t begin = static_cast<uint64_t>(table->offset) + part->start * table->block_size;
            if (begin >= data.size) continue;
            const uint64_t length = std::min<uint64_t>(part->len * table->block_size, data.size - begin);
            ReadVolume("p" + std::to_string(++number), begin, length, limits);
        }
    }
    allocated_.Seal();
    unread_.Seal();
    // A deleted file whose blocks an allocated file now uses is not whole.
    for (FsFile& file : files_) {
        if (file.allocated || file.held) continue;
        for (const FsRun& run : file.runs) {
            if (!run.sparse && allocated_.Overlaps(run.offset, run.offset + run.length)) file.overwritten = true;
        }
    }
    std::sort(files_.begin(), files_.end(), [](const FsFile& a, const FsFile& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.path < b.path;
    });
    return !volumes_.empty();
}

std::vector<FsRun> FileSystems::AroundIndirectBlocks(uint64_t offset, uint64_t length) const {
    const FsVolume* volume = nullptr;
    for (const FsVolume& candidate : volumes_) {
        if (offset >= candidate.offset && offset - candidate.offset < candidate.length &&
            (candidate.fs_type == "ext2" || candidate.fs_type == "ext3")) {
            volume = &candidate;
        }
    }
    if (volume == nullptr || volume->block_size < 1024 || (offset - volume->offset) % volume->block_size != 0 ||
        allocated_.Contains(offset)) {
        return {};
    }
    const uint64_t block = volume->block_size, per_block = block / 4;
    const uint64_t end = volume->offset + volume->length;
    std::vector<FsRun> runs;
    uint64_t at = offset, left = length;
    // Takes count data blocks from at, then steps over skip metadata blocks.
    const auto take = [&](uint64_t count, uint64_t skip) {
        const uint64_t bytes = std::min({count * block, left, end > at ? end - at : 0});
        if (bytes > 0) runs.push_back({at, bytes, false});
        left -= bytes;
        at += count * block + skip * block;
        return left > 0 && at < end;
    };
    // 12 direct blocks; the indirect block; its blocks; then the double
    // indirect block with its first indirect block, and one indirect block
    // before each further group; the triple indirect block likewise.
    if (!take(12, 1) || !take(per_block, 2)) return runs;
    for (uint64_t group = 1; group < per_block; ++group) {
        if (!take(per_block, 1)) return runs;
    }
    if (!take(per_block, 3)) return runs;
    while (take(per_block, 1)) {
    }
    return runs;
}

namespace {

// The listing's bytes: little-endian numbers, and texts and byte strings
// behind their lengths.
class Writer {
public:
    void Number(uint64_t value) {
        for (int i = 0; i < 8; ++i) bytes_ += static_cast<char>(value >> (8 * i));
    }
    void Text(const std::string& text) {
        Number(text.size());
        bytes_ += text;
    }
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}
    uint64_t Number() {
        if (bytes_.size() - at_ < 8) return Fail();
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value |= uint64_t{static_cast<uint8_t>(bytes_[at_ + i])} << (8 * i);
        at_ += 8;
        return value;
    }
    std::string Text() {
        const uint64_t size = Number();
        if (size > bytes_.size() - at_) {
            Fail();
            return "";
        }
        at_ += size;
        return bytes_.substr(at_ - size, size);
    }
    // A count of records of at least record bytes each that the rest can hold.
    uint64_t Count(uint64_t record) {
        const uint64_t count = Number();
        return count > (bytes_.size() - at_) / record ? Fail() : count;
    }
    bool ok() const { return ok_ && at_ == bytes_.size(); }

private:
    uint64_t Fail() {
        ok_ = false;
        at_ = bytes_.size();
        return 0;
    }
    const std::string& bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

std::string FileSystems::Save() const {
    Writer out;
    out.Number(volumes_.size());
    for (const FsVolume& volume : volumes_) {
        out.Text(volume.name);
        out.Text(volume.fs_type);
        out.Text(volume.problem);
        for (uint64_t value : {volume.offset, volume.length, uint64_t{volume.block_size}, volume.files, volume.deleted}) {
            out.Number(value);
        }
    }
    out.Number(files_.size());
    for (const FsFile& file : files_) {
        out.Text(file.volume);
        out.Text(file.fs_type);
        out.Text(file.path);
        out.Text(std::string(file.bytes.begin(), file.bytes.end()));
        for (uint64_t value : {file.inode, uint64_t{file.allocated}, uint64_t{file.overwritten}, file.size,
                               static_cast<uint64_t>(file.mtime), static_cast<uint64_t>(file.atime),
                               static_cast<uint64_t>(file.ctime), static_cast<uint64_t>(file.crtime),
                               uint64_t{file.held}, file.offset}) {
            out.Number(value);
        }
        out.Number(file.runs.size());
        for (const FsRun& run : file.runs) {
            out.Number(run.offset);
            out.Number(run.length);
            out.Number(run.sparse);
        }
    }
    for (const Extents* extents : {&allocated_, &unread_}) {
        out.Number(extents->ranges().size());
        for (const Extents::Range& range : extents->ranges()) {
            out.Number(range.begin);
            out.Number(range.end);
        }
    }
    out.Text(limited_);
    return out.bytes_;
}

bool FileSystems::Restore(const std::string& bytes, uint64_t media_size) {
    Reader in(bytes);
    volumes_.resize(in.Count(3 * 8 + 5 * 8));
    for (FsVolume& volume : volumes_) {
        volume.name = in.Text();
        volume.fs_type = in.Text();
        volume.problem = in.Text();
        volume.offset = in.Number();
        volume.length = in.Number();
        volume.block_size = static_cast<uint32_t>(in.Number());
        volume.files = in.Number();
        volume.deleted = in.Number();
    }
    files_.resize(in.Count(4 * 8 + 11 * 8));
    for (FsFile& file : files_) {
        file.volume = in.Text();
        file.fs_type = in.Text();
        file.path = in.Text();
        const std::string held = in.Text();
        file.bytes.assign(held.begin(), held.end());
        file.inode = in.Number();
        file.allocated = in.Number() != 0;
        file.overwritten = in.Number() != 0;
        file.size = in.Number();
        file.mtime = static_cast<int64_t>(in.Number());
        file.atime = static_cast<int64_t>(in.Number());
        file.ctime = static_cast<int64_t>(in.Number());
        file.crtime = static_cast<int64_t>(in.Number());
        file.held = in.Number() != 0;
        file.offset = in.Number();
        file.runs.resize(in.Count(3 * 8));
        for (FsRun& run : file.runs) {
            run.offset = in.Number();
            run.length = in.Number();
            run.sparse = in.Number() != 0;
        }
    }
    for (Extents* extents : {&allocated_, &unread_}) {
        for (uint64_t count = in.Count(2 * 8); count > 0; --count) {
            const uint64_t begin = in.Number();
            extents->Add(begin, in.Number());
        }
        extents->Seal();
    }
    limited_ = in.Text();
    // Every byte a file names lies in the media.
    for (const FsFile& file : files_) {
        uint64_t total = file.held ? file.bytes.size() : 0;
        for (const FsRun& run : file.runs) {
            if (!run.sparse && (run.offset > media_size || run.length > media_size - run.offset)) return false;
            total += run.length;
        }
        if (total != file.size || file.offset > media_size) return false;
    }
    return in.ok() && !volumes_.empty();
}
