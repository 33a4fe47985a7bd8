// 7z archives: the 32-byte signature header (signature, version 0.x, the
// CRC-32 of the start header, then the next header's offset, size and
// CRC-32), packed streams, and the next header at the end. The item ends
// behind the next header, whose CRC-32 must hold and which must open as a
// Header or an EncodedHeader; an archive of no entries is the signature
// header alone, all its fields zero.
#include "formathound/crc.h"
#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kSignatureBytes = 32;
// The next header is read whole for its CRC: a bound on what one candidate
// may cost. Archives of a million entries stay well below it.
constexpr uint64_t kMaxNextHeader = uint64_t{256} << 20;
// Property IDs that may follow the first byte of each kind of next header.
constexpr uint8_t kEnd = 0x00, kHeader = 0x01, kArchiveProperties = 0x02,
                  kFilesInfo = 0x05, kPackInfo = 0x06, kEncodedHeader = 0x17;

}  // namespace

bool WalkSevenZip(Source& source, Found* found) {
    const uint8_t* head = source.Peek(0, kSignatureBytes);
    if (head == nullptr || Le32(head) != 0xAFBC7A37u || Le16(head + 4) != 0x1C27 || head[6] != 0) return false;
    const uint32_t start_crc = Le32(head + 8), next_crc = Le32(head + 28);
    const uint64_t offset = Le64(head + 12), size = Le64(head + 20);
    uint32_t crc = 0;
    if (!ReflectedCrc32Of(source, 12, 20, &crc) || crc != start_crc) return false;
    if (size == 0) {
        if (offset != 0 || next_crc != 0) return false;
        *found = {kSignatureBytes, "7z", "7z archive"};
        return true;
    }
    // The next header must lie within the data (a cut archive has lost it).
    const uint64_t room = source.size() - kSignatureBytes;
    if (size > kMaxNextHeader || offset > room || size > room - offset) return false;
    const uint64_t at = kSignatureBytes + offset;
    const uint8_t* first = source.Peek(at, 2);
    if (first == nullptr) return false;
    const bool plain = first[0] == kHeader &&
                       (first[1] == kEnd || (first[1] >= kArchiveProperties && first[1] <= kFilesInfo));
    const bool encoded = first[0] == kEncodedHeader && first[1] == kPackInfo;
    if (!source.Step() || !(plain || encoded)) return false;
    if (!ReflectedCrc32Of(source, at, size, &crc) || crc != next_crc) return false;
    *found = {at + size, "7z", "7z archive"};
    return true;
}

}  // namespace formathound
