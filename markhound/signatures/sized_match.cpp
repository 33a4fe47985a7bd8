// Sized signature: a header pattern, then a little-endian size field at a
// fixed distance from the match position.
#include "markhound/signatures/signature.h"

bool SizedSignature::Match(const HostReader* reader, uint64_t position, FoundItem* item) {
    if (!PatternMatchesAt(pattern, reader, position)) return false;
    Report(reader, position, item);
    return true;
}

void SizedSignature::Report(const HostReader* reader, uint64_t position, FoundItem* item) const {
    item->offset = position;
    item->size = size_addon;
    item->extension = ext.text;
    item->description = name.text;

    // Zeroed first: whatever the host cannot deliver reads as zero bytes.
    uint8_t field[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    reader->ReadBlock(reader->context, field, position + size_offset, size_width);
    uint64_t value = 0;
    switch (size_width) {
        case 1: value = field[0]; break;
        case 2: value = field[0] | static_cast<uint64_t>(field[1]) << 8; break;
        case 4:
            value = field[0] | static_cast<uint64_t>(field[1]) << 8 |
                    static_cast<uint64_t>(field[2]) << 16 | static_cast<uint64_t>(field[3]) << 24;
            break;
        default: break;  // the loader keeps no other width
    }
    item->size += value;
}
