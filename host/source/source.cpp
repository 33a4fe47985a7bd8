// Opening an input: a plain file, or an evidence image read through libewf
// (E01) or The Sleuth Kit's image layer (the others).
#include "host/source/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libewf.h>
#include <tsk/libtsk.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "host/base/names.h"
#include "host/source/paged_view.h"

namespace {

bool StartsWith(const std::string& bytes, const char* magic, size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

std::string ReadAt(int fd, uint64_t offset, size_t count) {
    std::string bytes(count, '\0');
    const ssize_t got = pread(fd, &bytes[0], count, static_cast<off_t>(offset));
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

bool IsFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// path with its extension (from dot on) replaced by n in at least width digits.
std::string Numbered(const std::string& path, size_t dot, size_t width, unsigned long n) {
    std::string digits = std::to_string(n);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return path.substr(0, dot + 1) + digits;
}

// "disk.001" (or ".000") with a later piece beside it, or "disk.aa" (or
// ".aaa") with the next: the first piece of a raw image split into pieces
// (one of which may be missing).
bool FirstOfSplit(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos) return false;
    const std::string number = path.substr(dot + 1);
    if (number == "aa" || number == "aaa") return IsFile(path.substr(0, path.size() - 1) + "b");
    if (number != "001" && number != "000") return false;
    for (unsigned long later = number == "001" ? 2 : 1; later < 10; ++later) {
        if (IsFile(Numbered(path, dot, 3, later))) return true;
    }
    return false;
}

TSK_IMG_TYPE_ENUM ImageType(const std::string& format) {
    if (format == "VMDK") return TSK_IMG_TYPE_VMDK_VMDK;
    if (format == "VHD" || format == "VHDX") return TSK_IMG_TYPE_VHD_VHD;
    if (format == "AFF") return TSK_IMG_TYPE_AFF_ANY;
    return TSK_IMG_TYPE_RAW;
}

std::string Hex(const uint8_t* value, size_t length) {
    std::string hex;
    for (size_t i = 0; i < length && value[i] != 0; ++i) hex += static_cast<char>(std::tolower(value[i]));
    return hex;
}

// The next piece of a split raw image after its last one, when a piece
// beyond it exists: the pieces then found end early, at a missing one.
std::string MissingPiece(const std::vector<std::string>& pieces) {
    if (pieces.empty()) return "";
    const std::string& last = pieces.back();
    const size_t dot = last.find_last_of('.');
    if (dot == std::string::npos) return "";
    const std::string number = last.substr(dot + 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return "";
    const unsigned long next = std::stoul(number) + 1;
    for (unsigned long beyond = next + 1; beyond <= next + 8; ++beyond) {
        if (IsFile(Numbered(last, dot, number.size(), beyond))) return Numbered(last, dot, number.size(), next);
    }
    return "";
}

}  // namespace

// An EWF image read through libewf itself, not the image layer: only
// libewf's own handle tells which chunks failed their checks and whether
// segment files are missing or damaged. Reads and those questions come from
// different threads, hence the lock.
struct Source::Ewf {
    char** names = nullptr;
    int count = 0;
    libewf_handle_t* handle = nullptr;
    bool open = false;
    std::mutex lock;

    ~Ewf() {
        if (open) libewf_handle_close(handle, nullptr);
        if (handle != nullptr) libewf_handle_free(&handle, nullptr);
        if (names != nullptr) libewf_glob_free(names, count, nullptr);
    }

    // Finds the segment files and opens them; false with libewf's reason in *why.
    bool Open(const std::string& path, std::string* why) {
        libewf_error_t* error = nullptr;
        open = libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) == 1 &&
               libewf_handle_initialize(&handle, &error) == 1 &&
               libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, &error) == 1;
        if (!open) {
            char text[512] = "libewf cannot open its segment files";
            if (error != nullptr) libewf_error_sprint(error, text, sizeof text);
            libewf_error_free(&error);
            std::string line = text;
            std::replace(line.begin(), line.end(), '\n', ' ');
            *why = Printable(line);
        }
        return open;
    }

    uint64_t MediaSize() {
        size64_t size = 0;
        return libewf_handle_get_media_size(handle, &size, nullptr) == 1 ? size : 0;
    }

    bool Read(uint64_t offset, uint8_t* buffer, size_t size) {
        std::lock_guard<std::mutex> hold(lock);
        return libewf_handle_read_random(handle, buffer, size, static_cast<off64_t>(offset), nullptr) ==
               static_cast<ssize_t>(size);
    }

    bool Damaged() { return libewf_handle_segment_files_corrupted(handle, nullptr) == 1; }

    // The digests the image holds of its media.
    std::vector<std::pair<std::string, std::string>> Hashes() {
        std::vector<std::pair<std::string, std::string>> hashes;
        for (const char* type : {"MD5", "SHA1"}) {
            uint8_t value[128] = {};
            if (libewf_handle_get_utf8_hash_value(handle, reinterpret_cast<const uint8_t*>(type), std::strlen(type),
                                                  value, sizeof value - 1, nullptr) != 1) {
                continue;
            }
            std::string name = type;
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const std::string hex = Hex(value, sizeof value);
            if (!hex.empty()) hashes.emplace_back(name, hex);
        }
        return hashes;
    }

    // The bytes of the chunks read so far that failed their checks (libewf
    // gives them as zeros), and the first of them.
    uint64_t Failed(uint64_t* first) {
        std::lock_guard<std::mutex> hold(lock);
        uint32_t errors = 0, sector = 512;
        libewf_handle_get_bytes_per_sector(handle, &sector, nullptr);
        if (libewf_handle_get_number_of_checksum_errors(handle, &errors, nullptr) != 1) return 0;
        uint64_t bytes = 0;
        for (uint32_t i = 0; i < errors; ++i) {
            uint64_t start = 0, sectors = 0;
            if (libewf_handle_get_checksum_error(handle, i, &start, &sectors, nullptr) != 1) continue;
            bytes += sectors * sector;
            *first = std::min(*first, start * sector);
        }
        return bytes;
    }
};

ContainerGuess GuessContainer(const std::string& path) {
    ContainerGuess guess;
    struct stat kind;
    // Only files and devices are looked at: opening a pipe would wait for its writer.
    if (stat(path.c_str(), &kind) != 0 || !(S_ISREG(kind.st_mode) || S_ISBLK(kind.st_mode))) return guess;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return guess;  // the plain file's opening says why
    const off_t end = lseek(fd, 0, SEEK_END);
    const std::string head = ReadAt(fd, 0, 512);
    const std::string tail = end >= 1024 ? ReadAt(fd, static_cast<uint64_t>(end) - 512, 512) : std::string();
    close(fd);
    const auto is = [&](const char* format, bool readable, const char* name) {
        guess.format = format;
        guess.readable = readable;
        guess.name = name;
        return guess;
    };
    if (StartsWith(head, "EVF\x09\x0d\x0a\xff\x00", 8)) return is("EWF", true, "an EWF (E01) image");
    if (StartsWith(head, "LVF\x09\x0d\x0a\xff\x00", 8)) {
        return is("EWF logical", false, "an EWF logical evidence file (L01), which holds files, not a disk");
    }
    if (StartsWith(head, "EVF2\x0d\x0a\x81\x00", 8) || StartsWith(head, "LEF2\x0d\x0a\x81\x00", 8)) {
        return is("EWF2", false, "an EWF2 (Ex01) image");
    }
    if (StartsWith(head, "KDMV", 4) || StartsWith(head, "COWD", 4) || StartsWith(head, "# Disk DescriptorFile", 21)) {
        return is("VMDK", true, "a VMDK image");
    }
    if (StartsWith(head, "vhdxfile", 8)) return is("VHDX", true, "a VHDX image");
    if (StartsWith(head, "conectix", 8) || StartsWith(tail, "conectix", 8)) return is("VHD", true, "a VHD image");
    if (StartsWith(head, "AFF10\x0d\x0a\x00", 8)) return is("AFF", true, "an AFF image");
    if (StartsWith(head, "QFI\xfb", 4)) return is("QCOW", false, "a QEMU (QCOW) disk image");
    if (head.size() >= 0x44 && StartsWith(head.substr(0x40), "\x7f\x10\xda\xbe", 4)) {
        return is("VDI", false, "a VirtualBox (VDI) disk image");
    }
    if (FirstOfSplit(path)) return is("split raw", true, "the first piece of a split raw image");
    return guess;
}

Source::Source() = default;

Source::~Source() {
    view_.reset();  // its pager reads through image_ or ewf_
    if (image_ != nullptr) tsk_img_close(image_);
}

bool Source::Open(const std::string& path, bool raw, size_t slots, std::string* error) {
    const ContainerGuess guess = raw ? ContainerGuess{} : GuessContainer(path);
    if (!guess.readable) {
        *error = "cannot read " + Quoted(path) + ": it looks like " + guess.name +
                 ", which hound cannot read; --raw scans its bytes as they are";
        return false;
    }
    if (!guess.format.empty()) return OpenImage(path, guess, slots, error);
    if (!file_.Open(path, error)) return false;
    data_ = {file_.data(), file_.size(), &file_};
    segments_ = {path};
    return true;
}

bool Source::OpenImage(const std::string& path, const ContainerGuess& guess, size_t slots, std::string* error) {
    const std::string reason = "cannot read " + Quoted(path) + " as " + guess.name + ": ";
    const auto fail = [&](const std::string& why) {
        *error = reason + why + "; --raw scans its bytes as they are";
        return false;
    };
    container_ = guess.format == "VHDX" ? "VHD" : guess.format;
    uint64_t size = 0;
    PagedView::ReadFn read;
    if (container_ == "EWF") {
        ewf_ = std::make_unique<Ewf>();
        std::string why;
        if (!ewf_->Open(path, &why)) return fail(why);
        size = ewf_->MediaSize();
        segments_.assign(ewf_->names, ewf_->names + ewf_->count);
        hashes_ = ewf_->Hashes();
        if (ewf_->Damaged()) {
            warning_ = "segment files of " + Quoted(path) +
                       " are missing or damaged: what they held reads as zeros";
        }
        Ewf* ewf = ewf_.get();
        read = [ewf](uint64_t offset, uint8_t* buffer, size_t count) { return ewf->Read(offset, buffer, count); };
    } else {
        tsk_error_reset();
        image_ = tsk_img_open_utf8_sing(path.c_str(), ImageType(guess.format), 0);
        if (image_ == nullptr) {
            const char* why = tsk_error_get();
            std::string text = why != nullptr ? why : "the image layer does not take it";
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            std::replace(text.begin(), text.end(), '\n', ' ');
            tsk_error_reset();
            return fail(Printable(text));
        }
        size = image_->size > 0 ? static_cast<uint64_t>(image_->size) : 0;
        for (int i = 0; i < image_->num_img && image_->images != nullptr; ++i) segments_.emplace_back(image_->images[i]);
        TSK_IMG_INFO* image = image_;
        read = [image](uint64_t offset, uint8_t* buffer, size_t count) {
            return tsk_img_read(image, static_cast<TSK_OFF_T>(offset), reinterpret_cast<char*>(buffer), count) ==
                   static_cast<ssize_t>(count);
        };
    }
    if (size == 0) return fail("its media holds no bytes");
    if (segments_.empty()) segments_ = {path};

    if (container_ == "split raw") {
        const std::string missing = MissingPiece(segments_);
        if (!missing.empty()) {
            warning_ = "the split image " + Quoted(path) + " ends at " + std::to_string(size) +
                       " bytes, where its piece " + Quoted(missing) + " is missing";
        }
        // Pieces of whole pages are mapped one behind the other, as one
        // file; others are read in windows like any image.
        std::string why;
        if (file_.OpenPieces(segments_, &why)) {
            data_ = {file_.data(), file_.size(), &file_};
            return true;
        }
    }
    view_ = std::make_unique<PagedView>();
    std::string why;
    if (!view_->Open(size, std::move(read), slots, &why)) return fail(why);
    data_ = {view_->data(), view_->size(), nullptr};
    return true;
}

uint64_t Source::Unreadable(uint64_t* first) const {
    *first = view_ ? view_->first_unreadable() : 0;
    uint64_t bytes = view_ ? view_->unreadable() : 0;
    if (ewf_) bytes += ewf_->Failed(first);
    return bytes;
}
