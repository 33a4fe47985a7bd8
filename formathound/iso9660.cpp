// ISO 9660 images: 32 KiB of system area, then volume descriptors of 2048
// bytes ("CD001", version 1): boot records, the primary, supplementary
// (Joliet) and partition descriptors, up to the set terminator. The primary
// gives the logical block size and the volume space size, each written
// both little- and big-endian; both halves must agree, as must the other
// both-endian fields and the places the primary points at. The image ends
// at the volume space size times the block size.
//
// UDF bridge images (a BEA01, NSR02 or NSR03, TEA01 sequence behind the
// terminator) end where their ISO 9660 volume space does, as the tools
// that write both size it; images of UDF alone are not walked.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint64_t kFirstDescriptor = 32768;
constexpr uint32_t kSector = 2048;
// Boot records, primaries, supplementaries and partitions before the
// terminator; images carry a handful.
constexpr uint32_t kMaxDescriptors = 64;
// Sectors behind the terminator searched for the UDF sequence.
constexpr uint32_t kMaxExtended = 8;
constexpr uint8_t kBoot = 0, kPrimary = 1, kSupplementary = 2, kPartition = 3, kTerminator = 255;

// A both-endian field of 2 or 4 bytes: the little-endian value, when the
// big-endian half agrees.
bool Both16(const uint8_t* p, uint32_t* value) {
    *value = Le16(p);
    return *value == Be16(p + 2);
}
bool Both32(const uint8_t* p, uint32_t* value) {
    *value = Le32(p);
    return *value == Be32(p + 4);
}

// The primary descriptor's numbers: the volume space (in blocks) and block
// size, and the path tables and root directory that lie inside it.
bool PrimaryHolds(const uint8_t* d, uint32_t* blocks, uint32_t* block_size) {
    uint32_t set_size = 0, sequence = 0, path_table = 0, root = 0, root_size = 0;
    if (!Both32(d + 80, blocks) || !Both16(d + 120, &set_size) || !Both16(d + 124, &sequence) ||
        !Both16(d + 128, block_size) || !Both32(d + 132, &path_table) || !Both32(d + 158, &root) ||
        !Both32(d + 166, &root_size)) {
        return false;
    }
    if (*block_size != 512 && *block_size != 1024 && *block_size != 2048) return false;
    if (*blocks == 0 || set_size == 0 || sequence == 0 || sequence > set_size || path_table == 0) return false;
    // The root directory's record (34 bytes), the path tables (little-,
    // big-endian) and the root's extent within the volume.
    if (d[156] != 34 || Le32(d + 140) >= *blocks || Be32(d + 148) >= *blocks || root >= *blocks) return false;
    return d[881] == 1;  // file structure version
}

// The UDF volume recognition sequence behind the terminator at at.
bool HasUdf(Source& source, uint64_t at) {
    for (uint32_t i = 0; i < kMaxExtended && source.size() - at >= kSector; ++i, at += kSector) {
        const uint8_t* d = source.Peek(at, 6);
        if (!source.Step() || d == nullptr || d[0] != 0) return false;
        if (std::memcmp(d + 1, "NSR02", 5) == 0 || std::memcmp(d + 1, "NSR03", 5) == 0) return true;
        if (std::memcmp(d + 1, "BEA01", 5) != 0 && std::memcmp(d + 1, "BOOT2", 5) != 0 &&
            std::memcmp(d + 1, "CDW02", 5) != 0) {
            return false;
        }
    }
    return false;
}

}  // namespace

bool WalkIso9660(Source& source, Found* found) {
    uint64_t at = kFirstDescriptor;
    uint32_t blocks = 0, block_size = 0;
    bool primary = false, terminated = false;
    for (uint32_t i = 0; i < kMaxDescriptors && !terminated; ++i, at += kSector) {
        const uint8_t* d = source.size() - at >= kSector ? source.Peek(at, kSector) : nullptr;
        if (!source.Step() || d == nullptr || std::memcmp(d + 1, "CD001", 5) != 0) return false;
        // Enhanced volume descriptors are supplementaries of version 2.
        if (d[6] != 1 && !(d[0] == kSupplementary && d[6] == 2)) return false;
        switch (d[0]) {
            case kPrimary:
                // The first primary describes the volume.
                if (!primary && !PrimaryHolds(d, &blocks, &block_size)) return false;
                primary = true;
                break;
            case kTerminator:
                terminated = true;
                break;
            case kBoot: case kSupplementary: case kPartition:
                break;
            default:
                return false;
        }
    }
    if (!primary || !terminated) return false;
    const uint64_t end = uint64_t{blocks} * block_size;
    if (end < at || end > source.size()) return false;  // descriptors outside, or cut short
    const bool udf = HasUdf(source, at);
    *found = {end, "iso", udf ? "ISO 9660/UDF image" : "ISO 9660 image"};
    return true;
}

}  // namespace formathound
