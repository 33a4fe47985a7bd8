// One input as every later stage reads it: a plain file or block device,
// mapped, or an evidence image (E01, split raw, VMDK, VHD, AFF) read in
// place through libewf (E01) or The Sleuth Kit's image layer into a paged view;
// the pieces of a split raw image are mapped one behind the other. Either way
// the stages get one MappedData whose positions are positions in the media.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/base/mapped_file.h"
#include "host/base/reader.h"

struct TSK_IMG_INFO;
class PagedView;

// What an input is, before it is opened.
struct ContainerGuess {
    std::string format;  // "EWF", "VMDK", ...; empty: plain bytes
    bool readable = true;
    std::string name;    // how it is said to a user: "an EWF (E01) image"
};

// Looks at the first and last bytes and the name of path.
ContainerGuess GuessContainer(const std::string& path);

class Source {
public:
    Source();
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Opens path; raw takes it as plain bytes whatever it looks like.
    // slots: windows of a container's media held in memory at once. False
    // with a one-line reason in *error (which names path).
    bool Open(const std::string& path, bool raw, size_t slots, std::string* error);

    const MappedData& data() const { return data_; }
    uint64_t size() const { return data_.size; }
    // The container's format ("EWF", "split raw", "VMDK", "VHD", "AFF");
    // empty for a plain file.
    const std::string& container() const { return container_; }
    // The files that hold the media, in order (the path alone for a plain file).
    const std::vector<std::string>& segments() const { return segments_; }
    // Digests the image records of its media at acquisition: ("md5", hex).
    const std::vector<std::pair<std::string, std::string>>& acquisition_hashes() const { return hashes_; }
    // Bytes of the media read so far that could not be read or failed the
    // image's own checks (they read as zeros); *first: the first of them.
    uint64_t Unreadable(uint64_t* first) const;
    // Not empty when the image opened but is incomplete or damaged: one line.
    const std::string& warning() const { return warning_; }
    // A plain file that became shorter while it was read (mapped_file.h).
    bool Shrank() const { return view_ == nullptr && file_.Shrank(); }
    uint64_t SizeNow() const { return view_ == nullptr ? file_.SizeNow() : data_.size; }

private:
    bool OpenImage(const std::string& path, const ContainerGuess& guess, size_t slots, std::string* error);

    struct Ewf;

    MappedFile file_;
    std::unique_ptr<Ewf> ewf_;  // an EWF image's own handle
    std::string warning_;
    TSK_IMG_INFO* image_ = nullptr;  // the image layer's reader; null for a plain file and an E01
    std::unique_ptr<PagedView> view_;
    MappedData data_{nullptr, 0, nullptr};
    std::string container_;
    std::vector<std::string> segments_;
    std::vector<std::pair<std::string, std::string>> hashes_;
};
