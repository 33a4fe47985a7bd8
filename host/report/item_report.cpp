#include "host/report/item_report.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <ostream>

#include "host/base/diagnostics.h"
#include "host/base/mapped_file.h"
#include "host/base/names.h"
#include "host/check/formats.h"
#include "host/report/extract.h"
#include "host/report/hashes.h"
#include "host/report/output.h"
#include "host/report/thumbnail.h"

namespace {

// A deleted file in pieces is checked in a copy of its bytes up to this size.
constexpr uint64_t kMaxCheckedCopy = uint64_t{32} << 20;

// The options that change which items a scan finds (not those that change
// only how fast, such as --exhaustive and --threads): parts must agree on them.
std::string ItemOptions(const Options& options) {
    std::string order;
    for (const std::string& name : options.order) order += (order.empty() ? "" : ",") + name;
    return "order=" + order + " nested=" + (options.nested ? "yes" : "no") +
           " min-size=" + std::to_string(options.min_size) + " max-size=" +
           (options.max_size == std::numeric_limits<uint64_t>::max() ? "none" : std::to_string(options.max_size)) +
           " check=" + (options.no_check ? "no" : "yes") +
           " signs=" + (options.scan_signs.empty() ? "default" : options.scan_signs) +
           (options.no_fs ? " fs=no" : options.carve_all ? " carve=all" : "");
}


// Makes the thumbnail of the picture in bytes[0, size) and writes it to
// path below thumbs; false when it cannot be decoded or written (the
// picture is then shown without one) or a stop is asked for.
bool WriteThumbnail(const std::string& thumbs, const uint8_t* bytes, uint64_t size, const std::string& extension,
                    const std::string& path, const std::atomic<int>* stop) {
    if (stop != nullptr && stop->load() != 0) return false;
    std::vector<uint8_t> jpeg;
    if (!MakeThumbnail(bytes, size, extension, &jpeg)) return false;
    std::error_code failure;
    std::filesystem::create_directories(thumbs + "/" + extension, failure);
    // Never through a link planted in the folder.
    for (const std::string& folder : {thumbs, thumbs + "/" + extension}) {
        if (std::filesystem::symlink_status(folder, failure).type() != std::filesystem::file_type::directory) {
            return false;
        }
    }
    std::string error;
    return WriteFileAtomically(path, jpeg.data(), jpeg.size(), &error);
}

}  // namespace

void Stdout::Line(const std::string& text) {
    if (!failed_) out_ << text << '\n';
}

void Stdout::Flush() {
    out_ << std::flush;
    if (failed_ || out_.good()) return;
    failed_ = true;
    diag_.Error(std::string("cannot write the standard output: ") +
                (errno != 0 ? std::strerror(errno) : "write failed"));
}

ItemReport::ItemReport(const Options& options, const MappedData& data,
                       const std::vector<std::string>& plugin_names, FileReport* file, ReportSinks sinks)
    : options_(options), data_(data), plugin_names_(plugin_names), file_(*file), sinks_(sinks),
      table_(sinks.out.stream(), *file, plugin_names), while_scanning_("while scanning " + Quoted(file->path)),
      while_hashing_("while hashing the items of " + Quoted(file->path)) {
    budget_ = file->size > UINT64_MAX / kExtractBound ? UINT64_MAX : file->size * kExtractBound;
    if (sinks.files.gallery.is_open()) {
        const std::string thumbs = options.out + "/" + kGalleryFolder + "/thumbs";
        const std::atomic<int>* stop = sinks.stop.flag();
        const MappedData* mapped = &data;
        thumbnails_ = std::make_unique<ThumbnailQueue>(
            [thumbs, stop, mapped](const uint8_t* bytes, uint64_t size, const std::string& extension,
                                   const std::string& path) {
                const bool made = WriteThumbnail(thumbs, bytes, size, extension, path, stop);
                // The picture's pages, read again for it, leave memory as in Extract.
                const uint64_t offset = static_cast<uint64_t>(bytes - mapped->bytes);
                DropMappedPages(*mapped, offset, offset + size);
                return made;
            });
    }
}

ItemReport::~ItemReport() {
    if (!thumbnails_) return;
    thumbnails_->Finish(true);
    AddReadyRecords();
}

void ItemReport::AddReadyRecords() {
    for (std::string& record : thumbnails_->Ready()) sinks_.files.gallery.Add(std::move(record));
    FlushGallery(sinks_, false);
}

std::string ItemReport::NameOf(const Item& item, const std::string& extension) {
    if (item.offset != names_offset_) names_.clear();
    names_offset_ = item.offset;
    std::string name = UniqueName(ItemFileName(file_.stem, item.offset, extension), &names_);
    // An earlier run's file keeps its name; this item takes the next free one.
    while (sinks_.files.out_folder.Holds(extension + "/" + name)) {
        name = UniqueName(ItemFileName(file_.stem, item.offset, extension), &names_);
    }
    return extension + "/" + name;
}

void ItemReport::Add(const Item& item, std::shared_ptr<const FsFile> pieces) {
    if (sinks_.stop.AskedWhile(while_scanning_)) return;
    // Once the input is shorter than mapped, the bytes past its new end read
    // as zeros: an item found from then on may rest on them, so none is
    // reported (the scan stops too).
    if (Shrank(data_)) return;
    ReportedItem reported;
    reported.item = item;
    reported.fs = std::move(pieces);
    reported.name = NameOf(item, SafeExtension(item.extension));
    const bool out = !options_.out.empty();
    const Unread unread = out || !options_.hashes.empty() ? LeftUnread(item) : Unread::kNo;
    if (unread != Unread::kNo) {
        (out ? reported.not_extracted : reported.not_hashed) = unread;
        reported.inside_at = truncated_start_;
    }
    Report(reported);
}

void ItemReport::AddFile(const FsFile& file, const Item* carved) {
    if (sinks_.stop.AskedWhile(while_scanning_) || Shrank(data_)) return;
    ReportedItem reported;
    Item& item = reported.item;
    item.offset = file.offset;
    item.size = item.plugin_size = item.size_in_file = file.size;
    // The type by content where carving found the file there, else by its name.
    if (carved != nullptr) {
        item.extension = carved->extension;
        item.description = carved->description;
        item.plugin = carved->plugin;
        item.check = carved->check;
        item.check_format = carved->check_format;
        item.check_reason = carved->check_reason;
    } else {
        item.extension = NameExtension(file.path);
        item.description = "file named by the file system";
    }
    reported.overwritten = file.overwritten;
    // A deleted file's blocks may since hold other data: its format's check
    // tells, where no carved item vouched for them. A fragmented file is
    // checked in a copy of its bytes, up to a bound.
    if (!file.allocated && !file.overwritten && !options_.no_check &&
        (carved == nullptr || carved->check != CheckState::kValid)) {
        std::vector<uint8_t> copy;
        CheckBytes bytes{data_.bytes + file.offset, data_.size - file.offset};
        if (file.held) {
            bytes = {file.bytes.data(), file.bytes.size()};
        } else if (!file.Contiguous() && file.size <= kMaxCheckedCopy) {
            for (const Piece& piece : FilePieces(data_, file)) {
                if (piece.data == nullptr) {
                    copy.insert(copy.end(), piece.size, 0);
                } else {
                    copy.insert(copy.end(), piece.data, piece.data + piece.size);
                }
            }
            bytes = {copy.data(), copy.size()};
        }
        if (file.held || file.Contiguous() || !copy.empty()) {
            const CheckResult check = CheckItem(bytes);
            item.check = check.state;
            item.check_format = check.format;
            item.check_reason = check.reason;
            reported.overwritten = check.state == CheckState::kInvalid;
            if (check.state == CheckState::kValid) {
                if (check.extension != nullptr) item.extension = check.extension;
                if (check.description != nullptr) item.description = check.description;
            }
        }
    }
    reported.fs = std::shared_ptr<const FsFile>(std::shared_ptr<const FsFile>(), &file);
    reported.name = FileName(file);
    const bool out = !options_.out.empty();
    const Unread unread = reported.overwritten ? Unread::kOverwritten
                          : out || !options_.hashes.empty() ? LeftUnread(item, true)
                                                            : Unread::kNo;
    if (unread != Unread::kNo) (out ? reported.not_extracted : reported.not_hashed) = unread;
    ++file_.named;
    file_.named_deleted += !file.allocated;
    file_.named_overwritten += reported.overwritten;
    Report(reported);
}

std::string ItemReport::FileName(const FsFile& file) {
    std::string name = "fs/" + SafeStem(file.volume);
    for (size_t at = 1; at < file.path.size();) {
        const size_t slash = std::min(file.path.find('/', at), file.path.size());
        name += "/" + SafeComponent(std::string_view(file.path).substr(at, slash - at));
        at = slash + 1;
    }
    // A second file of the same name (a deleted one beside a live one) takes its inode.
    if (file_names_.count(name) != 0 || sinks_.files.out_folder.Holds(name)) {
        const size_t slash = name.find_last_of('/');
        const size_t dot = name.find_last_of('.');
        name.insert(dot != std::string::npos && dot > slash + 1 ? dot : name.size(), "~" + std::to_string(file.inode));
        const std::string base = name;
        name = UniqueName(base, &file_names_);
        while (sinks_.files.out_folder.Holds(name)) name = UniqueName(base, &file_names_);
    } else {
        file_names_.insert(name);
    }
    return name;
}

void ItemReport::Report(ReportedItem& reported) {
    const Item& item = reported.item;
    const std::string extension = SafeExtension(item.extension);
    const bool out = !options_.out.empty();
    const FsFile* fs = reported.fs.get();
    const bool in_place = fs == nullptr || fs->Contiguous();
    if (reported.not_extracted == Unread::kNo && reported.not_hashed == Unread::kNo) {
        const bool extract = out && !sinks_.files.extraction_failed;
        if (in_place) {
            // The pages read leave memory block by block, as in Extract (which
            // lets the last block go itself).
            const uint8_t* bytes = item.size_in_file > 0 ? data_.bytes + item.offset : data_.bytes;
            const auto drop = [&](uint64_t done) {
                if (done < item.size_in_file || !extract) DropMappedPages(data_, item.offset, item.offset + done);
            };
            reported.digests = HashBytes(options_.hashes, bytes, item.size_in_file, sinks_.stop.flag(), drop);
        } else {
            reported.digests = HashPieces(options_.hashes, FilePieces(data_, *fs), sinks_.stop.flag(),
                                          [&](const Piece& piece, uint64_t done) { DropPiecePages(piece, done); });
        }
        if (sinks_.stop.AskedWhile(while_hashing_)) return;
        if (Shrank(data_)) {
            LeftUnreadByShrinking(&reported, out);
        } else if (extract) {
            Extract(&reported);
        } else if (out) {
            reported.not_extracted = Unread::kWriteFailed;
        }
    }
    ++file_.streamed;
    file_.streamed_truncated += item.truncated;
    ++file_.streamed_types[extension];
    const std::string& plugin = ItemFinder(reported, plugin_names_);
    if (options_.json) {
        sinks_.out.Line(JsonLine(file_, reported, plugin, options_.out));
    } else {
        table_.Add(reported);
    }
    if (sinks_.files.dfxml_items.is_open()) sinks_.files.dfxml_items.Append(DfxmlObject(file_, reported, plugin));
    if (sinks_.files.audit_items.is_open()) sinks_.files.audit_items.Append(AuditItemLine(file_, reported, plugin));
    if (thumbnails_) {
        std::string without = GalleryRecord(file_, reported, plugin, false);
        if (thumbnail_) {
            thumbnails_->Add(data_.bytes + item.offset, item.size_in_file, extension,
                             options_.out + "/" + ThumbnailName(reported.name), GalleryRecord(file_, reported, plugin, true),
                             std::move(without));
        } else {
            thumbnails_->Add(std::move(without));
        }
        AddReadyRecords();
    }
    thumbnail_ = false;
}

// The bytes read for items (hashed, extracted) stay a small multiple of the
// input whatever the plug-ins report: a truncated item's file runs to the
// end of the input, so an item that starts inside it is already there
// (unless --nested asks for items inside items), and no input gives more
// than kExtractBound times its size, nor with --out more than --max-files
// files. kNo when the item's bytes may be read; otherwise why not.
Unread ItemReport::LeftUnread(const Item& item, bool listed) {
    if (!listed && !options_.nested && item.offset < truncated_end_) {
        ++file_.inside_truncated;
        return Unread::kInsideTruncated;
    }
    const bool out = !options_.out.empty();
    if (out && files_ >= options_.max_files) {
        ++file_.file_bound;
        return Unread::kFileBound;
    }
    if (item.size_in_file > budget_) {
        ++file_.over_bound;
        return Unread::kOverBound;
    }
    budget_ -= item.size_in_file;
    files_ += out;
    if (!listed && item.truncated && item.offset + item.size_in_file > truncated_end_) {
        truncated_start_ = item.offset;
        truncated_end_ = item.offset + item.size_in_file;
    }
    return Unread::kNo;
}

// Writes the item below --out. A failed write ends the extraction of the
// run: this item and those after it carry kWriteFailed.
void ItemReport::Extract(ReportedItem* reported) {
    const Item& item = reported->item;
    const std::string folder = options_.out + "/" + reported->name.substr(0, reported->name.find_last_of('/'));
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (failure) {
        sinks_.diag.Error("cannot create " + Quoted(folder) + ": " + failure.message());
        sinks_.files.extraction_failed = true;
        reported->not_extracted = Unread::kWriteFailed;
        return;
    }
    const uint8_t* bytes = item.size_in_file > 0 ? data_.bytes + item.offset : data_.bytes;
    const std::string path = options_.out + "/" + reported->name;
    // The pages written leave memory block by block: a large item costs no
    // more resident memory than a small one.
    const auto drop = [&](uint64_t done) { DropMappedPages(data_, item.offset, item.offset + done); };
    std::string error;
    const FsFile* fs = reported->fs.get();
    const bool in_place = fs == nullptr || fs->Contiguous();
    const bool done = in_place ? WriteFileAtomically(path, bytes, item.size_in_file, &error, sinks_.stop.flag(), drop)
                               : WritePiecesAtomically(path, FilePieces(data_, *fs), &error, sinks_.stop.flag(),
                                                       [&](const Piece& piece, uint64_t done) {
                                                           DropPiecePages(piece, done);
                                                       });
    // A read past the new end of a shrunk input fails the write (EFAULT), or
    // reads zeros where another thread met that end first: either way the
    // file is not the item's.
    if (Shrank(data_)) {
        if (done) unlink(path.c_str());
        LeftUnreadByShrinking(reported, true);
        return;
    }
    if (!done) {
        if (sinks_.stop.AskedWhile("while writing " + Quoted(path) + "; its unfinished file was removed")) {
            reported->not_extracted = Unread::kStopped;
            reported->inside_at = static_cast<uint64_t>(sinks_.stop.signal());
        } else {
            sinks_.diag.Error(error);
            reported->not_extracted = Unread::kWriteFailed;
        }
        sinks_.files.extraction_failed = true;
        return;
    }
    reported->written = true;
    thumbnail_ = in_place && HasThumbnail(SafeExtension(item.extension));
    DropMappedPages(data_, item.offset, item.offset + item.size_in_file);
}

void ItemReport::DropPiecePages(const Piece& piece, uint64_t done) {
    if (piece.data < data_.bytes || piece.data >= data_.bytes + data_.size) return;  // held in memory
    const auto offset = static_cast<uint64_t>(piece.data - data_.bytes);
    DropMappedPages(data_, offset, offset + done);
}

void FlushGallery(ReportSinks sinks, bool now) {
    const std::string error = sinks.files.gallery.Flush(now);
    if (!error.empty()) sinks.diag.Error(error + "; it stays as it was");
}

void ItemReport::LeftUnreadByShrinking(ReportedItem* reported, bool extract) {
    reported->digests.clear();
    (extract ? reported->not_extracted : reported->not_hashed) = Unread::kShrank;
}

void ItemReport::Finish() {
    if (file_.over_bound > 0) {
        const char* left = options_.out.empty() ? " not hashed: the bytes hashed" : " not extracted: the bytes extracted";
        sinks_.diag.Note(std::to_string(file_.over_bound) + " items of " + Quoted(file_.path) + left +
                         " from an input stay within " + std::to_string(kExtractBound) + " times its size");
    }
    if (file_.file_bound > 0) {
        sinks_.diag.Note(std::to_string(file_.file_bound) + " items of " + Quoted(file_.path) +
                         " not extracted: at most " + std::to_string(options_.max_files) +
                         " files are extracted from an input (--max-files)");
    }
    if (thumbnails_) {
        thumbnails_->Finish(false);
        AddReadyRecords();
    }
    if (!options_.json) table_.Finish();
    // A part whose scan was cut short gets no closing line: hound join
    // then refuses it as unfinished.
    if (file_.part && file_.cut_short.empty()) {
        sinks_.out.Line(options_.json ? PartJsonLine(file_, ItemOptions(options_)) : "  " + PartText(file_));
    }
    sinks_.out.Flush();
}
