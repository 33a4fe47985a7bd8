// 7z rows: an archive of signature header, packed bytes and next header;
// the empty archive; each CRC broken; a next header that is neither kind.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// Signature header (version 0.4), packed bytes, next header.
Bytes Archive(const Bytes& packed, const Bytes& next, uint32_t start_crc_flip = 0, uint8_t major = 0) {
    const Bytes start = Cat({Le64(packed.size()), Le64(next.size()), Le32(next.empty() ? 0 : Crc32(next))});
    return Cat({{'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, major, 4}, Le32(Crc32(start) ^ start_crc_flip), start, packed,
                next});
}

}  // namespace

std::vector<Case> SevenZipCases() {
    const Bytes packed = Text("packed stream bytes");
    // Header: MainStreamsInfo ... End, End (its content is not walked).
    const Bytes header = {0x01, 0x04, 0x06, 0x00, 0x01, 0x13, 0x00, 0x00, 0x00};
    const Bytes encoded = {0x17, 0x06, 0x00, 0x01, 0x09, 0x00, 0x00};
    const Bytes archive = Archive(packed, header);
    Bytes broken = archive;
    broken[broken.size() - 2] ^= 1;
    return {
        {"7z with Header", Cat({archive, Text("after")}), archive.size(), "7z"},
        {"7z with EncodedHeader", Archive(packed, encoded), 32 + packed.size() + encoded.size(), "7z"},
        {"7z empty", Cat({Archive({}, {}), Text("after")}), 32, "7z"},
        {"7z next header CRC broken", broken, 0, ""},
        {"7z start header CRC broken", Archive(packed, header, 1), 0, ""},
        {"7z version 1", Archive(packed, header, 0, 1), 0, ""},
        {"7z next header of another kind", Archive(packed, {0x05, 0x00}), 0, ""},
        {"7z cut short", Bytes(archive.begin(), archive.end() - 1), 0, ""},
    };
}

}  // namespace formathound_test
