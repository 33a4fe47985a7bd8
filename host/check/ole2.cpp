// OLE2 compound file checker (doc, xls, ppt, msg, msi). formathound's walk
// gives the end and has checked the header, the DIFAT, every FAT entry and
// every directory entry; this follows every chain the file holds: the FAT
// sectors that the DIFAT lists are marked as FAT sectors and the DIFAT's
// own as DIFAT sectors, the directory's tree reaches each entry at most
// once, and every stream it reaches has a chain, through the FAT or through
// the mini FAT inside the mini stream, of exactly the sectors its size
// needs. No sector belongs to two chains. The format keeps no checksum: a
// stream's bytes are not judged.
#include <iterator>
#include <vector>

#include "host/check/check.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum Ole2Reason : uint8_t {
    kNoReason,
    kCutShort,
    kBadStructure,
    kUnmarkedSector,
    kSectorUsedTwice,
    kChainOutside,
    kChainLength,
    kBadTree,
    kBadMiniChain,
    kReasonCount,
};

constexpr uint64_t kHeaderBytes = 512, kEntryBytes = 128, kMiniBytes = 64, kMiniCutoff = 4096;
constexpr uint32_t kHeaderFatSectors = 109;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE, kFatMark = 0xFFFFFFFD, kDifatMark = 0xFFFFFFFC, kNoStream = 0xFFFFFFFF;
constexpr uint8_t kStorage = 1, kStream = 2;

struct File {
    const uint8_t* data;
    uint32_t shift, per;  // sector size's log2; 32-bit entries per sector
    uint64_t sectors;     // sectors inside the item, behind the header sector
    std::vector<uint32_t> fat;  // the FAT's sectors, in order
    std::vector<bool> used;     // sectors in a chain

    const uint8_t* Sector(uint32_t n) const { return data + ((uint64_t{n} + 1) << shift); }
    // The FAT entry of sector n; kNoStream where no FAT sector maps it.
    uint32_t Next(uint32_t n) const {
        return n / per < fat.size() ? Le32(Sector(fat[n / per]) + 4 * (n % per)) : kNoStream;
    }
    // Marks sector n as in a chain.
    Ole2Reason Claim(uint32_t n) {
        if (n >= sectors) return kChainOutside;
        if (used[n]) return kSectorUsedTwice;
        used[n] = true;
        return kNoReason;
    }
};

// Follows the chain from start through the FAT, claiming each sector, into
// *chain (when given); at most limit sectors.
Ole2Reason FollowChain(File& file, uint32_t start, uint64_t limit, std::vector<uint32_t>* chain, uint64_t* length) {
    *length = 0;
    for (uint32_t at = start; at != kEndOfChain; at = file.Next(at)) {
        if (*length == limit) return kChainLength;
        const Ole2Reason reason = file.Claim(at);
        if (reason != kNoReason) return reason;
        if (chain != nullptr) chain->push_back(at);
        ++*length;
    }
    return kNoReason;
}

// The FAT's sectors from the header and the DIFAT chain; each FAT and
// DIFAT sector marked as such in the FAT.
Ole2Reason ReadFatSectors(File& file) {
    const uint8_t* h = file.data;
    const uint32_t count = Le32(h + 44);
    for (uint32_t i = 0; i < count && i < kHeaderFatSectors; ++i) file.fat.push_back(Le32(h + 76 + 4 * i));
    std::vector<uint32_t> difat;
    for (uint32_t at = Le32(h + 68); file.fat.size() < count; at = Le32(file.Sector(at) + 4 * (file.per - 1))) {
        const Ole2Reason reason = file.Claim(at);
        if (reason != kNoReason) return reason;
        difat.push_back(at);
        for (uint32_t i = 0; i + 1 < file.per && file.fat.size() < count; ++i) {
            file.fat.push_back(Le32(file.Sector(at) + 4 * i));
        }
    }
    for (const uint32_t sector : file.fat) {
        if (sector >= file.sectors) return kChainOutside;
    }
    for (const uint32_t sector : file.fat) {
        const Ole2Reason reason = file.Claim(sector);
        if (reason != kNoReason) return reason;
        if (file.Next(sector) != kFatMark) return kUnmarkedSector;
    }
    for (const uint32_t sector : difat) {
        if (file.Next(sector) != kDifatMark) return kUnmarkedSector;
    }
    return kNoReason;
}

// The mini stream (the root's chain), mapped by the mini FAT's chain.
struct Mini {
    std::vector<uint32_t> fat;
    uint64_t sectors;  // mini sectors in the root's size
    std::vector<bool> used;
};

// A small stream's chain of mini sectors through the mini FAT.
Ole2Reason FollowMiniChain(const File& file, Mini& mini, uint32_t start, uint64_t size) {
    const uint64_t needed = (size + kMiniBytes - 1) / kMiniBytes;
    uint64_t length = 0;
    for (uint32_t at = start; at != kEndOfChain; ++length) {
        if (length == needed || at >= mini.sectors || at / file.per >= mini.fat.size() || mini.used[at]) {
            return kBadMiniChain;
        }
        mini.used[at] = true;
        at = Le32(file.Sector(mini.fat[at / file.per]) + 4 * (at % file.per));
    }
    return length == needed ? kNoReason : kBadMiniChain;
}

// The 128 bytes of directory entry id.
const uint8_t* Entry(const File& file, const std::vector<uint32_t>& directory, uint32_t id) {
    const uint32_t per = (uint32_t{1} << file.shift) / kEntryBytes;
    return file.Sector(directory[id / per]) + (id % per) * kEntryBytes;
}

// The stream entry's chain: a small one in the mini stream, a larger one
// through the FAT, of exactly the sectors its size needs.
Ole2Reason CheckStream(File& file, Mini& mini, const uint8_t* e) {
    const uint64_t size = file.shift == 9 ? Le32(e + 120) : Le64(e + 120);
    const uint32_t start = Le32(e + 116);
    if (size == 0) return kNoReason;
    if (size < kMiniCutoff) return FollowMiniChain(file, mini, start, size);
    const uint64_t needed = ((size - 1) >> file.shift) + 1;
    uint64_t length = 0;
    const Ole2Reason reason = FollowChain(file, start, needed, nullptr, &length);
    if (reason != kNoReason) return reason;
    return length == needed ? kNoReason : kChainLength;
}

// The red-black tree under the root: each entry reached once, a storage
// or a stream, with its stream's chain.
Ole2Reason WalkTree(File& file, Mini& mini, const std::vector<uint32_t>& directory) {
    const uint64_t entries = directory.size() * ((uint64_t{1} << file.shift) / kEntryBytes);
    std::vector<bool> seen(entries);
    std::vector<uint32_t> pending = {Le32(Entry(file, directory, 0) + 76)};
    while (!pending.empty()) {
        const uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoStream) continue;
        if (id == 0 || id >= entries || seen[id]) return kBadTree;
        seen[id] = true;
        const uint8_t* e = Entry(file, directory, id);
        if (e[66] != kStorage && e[66] != kStream) return kBadTree;
        if (e[66] == kStream) {
            const Ole2Reason reason = CheckStream(file, mini, e);
            if (reason != kNoReason) return reason;
        }
        pending.push_back(Le32(e + 68));
        pending.push_back(Le32(e + 72));
        if (e[66] == kStorage) pending.push_back(Le32(e + 76));
    }
    return kNoReason;
}

Ole2Reason CheckChains(File& file) {
    const uint8_t* h = file.data;
    Ole2Reason reason = ReadFatSectors(file);
    if (reason != kNoReason) return reason;
    std::vector<uint32_t> directory;
    uint64_t length = 0;
    if ((reason = FollowChain(file, Le32(h + 48), file.sectors, &directory, &length)) != kNoReason) return reason;
    if (directory.empty()) return kBadStructure;
    Mini mini;
    if ((reason = FollowChain(file, Le32(h + 60), file.sectors, &mini.fat, &length)) != kNoReason) return reason;
    const uint8_t* root = Entry(file, directory, 0);
    const uint64_t root_size = file.shift == 9 ? Le32(root + 120) : Le64(root + 120);
    if (root_size != 0 &&
        (reason = FollowChain(file, Le32(root + 116), file.sectors, nullptr, &length)) != kNoReason) {
        return reason;
    }
    mini.sectors = (root_size + kMiniBytes - 1) / kMiniBytes;
    mini.used.assign(mini.sectors, false);
    return WalkTree(file, mini, directory);
}

}  // namespace

// The texts of the reasons, by code.
const char* const kOle2Reasons[] = {
    "",
    "cut short",
    "bad header, FAT or directory",
    "FAT or DIFAT sector not marked as one",
    "sector in two chains",
    "chain leaves the file",
    "chain length does not match the stream size",
    "bad directory tree",
    "bad mini stream chain",
};
static_assert(std::size(kOle2Reasons) == kReasonCount, "one text per reason");

CheckResult CheckOle2(CheckBytes bytes) {
    if (bytes.size < 2 * kHeaderBytes) return CheckInvalid(kCutShort);
    const uint64_t end = WalkEnd(bytes);
    if (end == 0) return CheckInvalid(kBadStructure);
    File file{bytes.data, Le16(bytes.data + 30), 0, 0, {}, {}};
    file.per = (uint32_t{1} << file.shift) / 4;
    file.sectors = (end >> file.shift) - 1;
    file.used.assign(file.sectors, false);
    const Ole2Reason reason = CheckChains(file);
    return reason == kNoReason ? CheckValid(end) : CheckInvalid(reason);
}

extern const Checker kOle2Checker = {CheckOle2, kOle2Reasons, std::size(kOle2Reasons), nullptr};
