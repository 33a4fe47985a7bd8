// XZ streams: the stream header (magic, flags, CRC-32), blocks, the index
// and the stream footer. Each block header holds its CRC-32 and a filter
// chain that ends in LZMA2; the block's LZMA2 chunks are walked by their
// headers (control byte, sizes, properties) to the end marker, which gives
// the compressed and the uncompressed size whether the header states them
// or not. Then the block padding and the check field. The index must list
// the blocks walked, size for size, and hold its CRC-32; the footer its
// CRC-32, the index's size and the header's flags. Streams that directly
// follow (as concatenating files makes them) extend the item; stream
// padding does not, since nothing then tells it from the bytes after.
#include "formathound/crc.h"
#include "formathound/walks.h"
#include "formathound/window_feed.h"

namespace formathound {

namespace {

constexpr uint32_t kStreamHeaderBytes = 12, kFooterBytes = 12;
constexpr uint64_t kLzma2 = 0x21;
// The check field's size for each check type.
constexpr uint8_t kCheckBytes[16] = {0, 4, 4, 4, 8, 8, 8, 16, 16, 16, 32, 32, 32, 64, 64, 64};
constexpr uint64_t kMaxVli = (uint64_t{1} << 63) - 1;

// The reflected CRC-32 of bytes added one run after another.
struct Crc32 {
    uint32_t value = kReflectedCrc32Start;
    void Add(const uint8_t* bytes, uint32_t count) { value = ReflectedCrc32Add(value, bytes, count); }
    uint32_t Value() const { return ~value; }
};

uint32_t Crc32Of(const uint8_t* bytes, uint32_t count) {
    Crc32 crc;
    crc.Add(bytes, count);
    return crc.Value();
}

// Bytes read one by one from offset on, through the Source, each added to a
// CRC-32.
class Cursor : public ByteCursor {
public:
    using ByteCursor::ByteCursor;
    bool Byte(uint8_t* byte) {
        if (!ByteCursor::Byte(byte)) return false;
        crc_.Add(byte, 1);
        return true;
    }
    // A variable-length integer: seven bits a byte, low first, at most nine
    // bytes, no needless zero byte at its end.
    bool Vli(uint64_t* value) {
        *value = 0;
        for (uint32_t i = 0; i < 9; ++i) {
            uint8_t byte = 0;
            if (!Byte(&byte)) return false;
            *value |= uint64_t{byte & 0x7Fu} << (7 * i);
            if ((byte & 0x80) == 0) return i == 0 || byte != 0;
        }
        return false;
    }
    uint32_t Crc() const { return crc_.Value(); }

private:
    Crc32 crc_;
};

// The blocks' sizes, summed and mixed in order, as the index must repeat them.
struct Records {
    uint64_t count = 0, unpadded = 0, uncompressed = 0, mix = 0;
    void Add(uint64_t unpadded_size, uint64_t uncompressed_size) {
        ++count;
        unpadded += unpadded_size;
        uncompressed += uncompressed_size;
        mix = (mix * 0x100000001B3u ^ unpadded_size) * 0x100000001B3u ^ uncompressed_size;
    }
    bool operator==(const Records& other) const {
        return count == other.count && unpadded == other.unpadded && uncompressed == other.uncompressed &&
               mix == other.mix;
    }
};

struct BlockHeader {
    uint32_t size;
    uint64_t compressed, uncompressed;  // kMaxVli + 1 when not stated
};

// A variable-length integer from bytes[*at] before end: seven bits a byte,
// low first, at most nine bytes, no needless zero byte at its end.
bool Vli(const uint8_t* bytes, uint32_t* at, uint32_t end, uint64_t* value) {
    *value = 0;
    for (uint32_t i = 0; i < 9 && *at < end; ++i) {
        const uint8_t byte = bytes[(*at)++];
        *value |= uint64_t{byte & 0x7Fu} << (7 * i);
        if ((byte & 0x80) == 0) return i == 0 || byte != 0;
    }
    return false;
}

// The block header at offset at (whose first byte is not 0): its size, its
// CRC-32, the stated sizes, a filter chain of one to four filters that ends
// in LZMA2 (with a dictionary size that exists), and zero padding.
bool ReadBlockHeader(Source& source, uint64_t at, BlockHeader* header) {
    uint8_t p[1024];
    if (!source.Read(at, p, 1)) return false;
    const uint32_t size = (uint32_t{p[0]} + 1) * 4, end = size - 4;
    if (!source.Read(at, p, size) || Crc32Of(p, end) != Le32(p + end) || (p[1] & 0x3C) != 0) return false;
    *header = {size, kMaxVli + 1, kMaxVli + 1};
    uint32_t k = 2;
    if ((p[1] & 0x40) && (!Vli(p, &k, end, &header->compressed) || header->compressed == 0)) return false;
    if ((p[1] & 0x80) && !Vli(p, &k, end, &header->uncompressed)) return false;
    const uint32_t filters = (p[1] & 3) + 1;
    for (uint32_t i = 0; i < filters; ++i) {
        uint64_t id = 0, properties = 0;
        if (!Vli(p, &k, end, &id) || !Vli(p, &k, end, &properties) || properties > end - k) return false;
        const bool last = i + 1 == filters;
        if ((id == kLzma2) != last || (last && (properties != 1 || p[k] > 40))) return false;
        k += static_cast<uint32_t>(properties);
    }
    for (; k < end; ++k) {
        if (p[k] != 0) return false;
    }
    return true;
}

// LZMA2 chunks from offset at to the end marker, within limit: sets the
// compressed size (with the marker) and the uncompressed size. The first
// chunk resets the dictionary; an LZMA chunk needs properties set before
// or in it, and properties with lc + lp at most 4.
bool WalkChunks(Source& source, uint64_t at, uint64_t limit, uint64_t* compressed, uint64_t* uncompressed) {
    const uint64_t start = at;
    bool first = true, properties = false;
    *uncompressed = 0;
    for (;;) {
        if (!source.Step() || at >= limit) return false;
        const uint8_t* p = source.Peek(at, limit - at < 6 ? static_cast<uint32_t>(limit - at) : 6);
        if (p == nullptr) return false;
        const uint8_t control = p[0];
        if (control == 0x00) {
            ++at;
            break;
        }
        uint64_t unpacked = 0, packed = 0, header = 0;
        if (control == 0x01 || control == 0x02) {
            if (limit - at < 3 || (first && control != 0x01)) return false;
            unpacked = packed = Be16(p + 1) + uint64_t{1};
            header = 3;
        } else if (control >= 0x80) {
            const uint32_t reset = control >> 5 & 3;
            header = reset >= 2 ? 6 : 5;
            if (limit - at < header || (first && reset != 3) || (!properties && reset < 2)) return false;
            if (reset >= 2) {
                const uint32_t props = p[5], lc = props % 9, lp = props / 9 % 5;
                if (props >= 9 * 5 * 5 || lc + lp > 4) return false;
                properties = true;
            }
            unpacked = (uint64_t{control & 0x1Fu} << 16 | Be16(p + 1)) + 1;
            packed = Be16(p + 3) + uint64_t{1};
        } else {
            return false;
        }
        if (packed > limit - at - header) return false;
        at += header + packed;
        *uncompressed += unpacked;
        first = false;
    }
    *compressed = at - start;
    return true;
}

// The index at offset at, its indicator byte read: its records must match
// the blocks walked; sets its size.
bool IndexHolds(Source& source, uint64_t at, const Records& blocks, uint64_t* size) {
    Cursor cursor(source, at);
    uint8_t byte = 0;
    uint64_t count = 0;
    if (!cursor.Byte(&byte) || byte != 0 || !cursor.Vli(&count) || count != blocks.count) return false;
    Records listed;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t unpadded = 0, uncompressed = 0;
        if (!source.Step() || !cursor.Vli(&unpadded) || !cursor.Vli(&uncompressed)) return false;
        listed.Add(unpadded, uncompressed);
    }
    if (!(listed == blocks)) return false;
    while ((cursor.at() - at) % 4 != 0) {
        if (!cursor.Byte(&byte) || byte != 0) return false;
    }
    const uint32_t crc = cursor.Crc();
    uint32_t stored = 0;
    if (!source.Le32(cursor.at(), &stored) || stored != crc) return false;
    *size = cursor.at() + 4 - at;
    return true;
}

// One stream at offset at; sets end behind its footer.
bool StreamHolds(Source& source, uint64_t at, uint64_t* end) {
    const uint8_t* head = source.size() - at >= kStreamHeaderBytes ? source.Peek(at, kStreamHeaderBytes) : nullptr;
    if (head == nullptr || Be32(head) != 0xFD377A58u || Be16(head + 4) != 0x5A00 || head[6] != 0 ||
        (head[7] & 0xF0) != 0 || Crc32Of(head + 6, 2) != Le32(head + 8))
        return false;
    const uint8_t flags = head[7];
    const uint32_t check = kCheckBytes[flags & 0xF];
    Records blocks;
    uint64_t block = at + kStreamHeaderBytes;
    for (;;) {
        const uint8_t* indicator = source.Peek(block, 1);
        if (!source.Step() || indicator == nullptr) return false;
        if (*indicator == 0) break;
        BlockHeader header;
        if (!ReadBlockHeader(source, block, &header)) return false;
        const uint64_t data = block + header.size;
        uint64_t compressed = 0, uncompressed = 0;
        const uint64_t limit = header.compressed <= source.size() - data ? data + header.compressed : source.size();
        if (!WalkChunks(source, data, limit, &compressed, &uncompressed)) return false;
        if ((header.compressed <= kMaxVli && compressed != header.compressed) ||
            (header.uncompressed <= kMaxVli && uncompressed != header.uncompressed))
            return false;
        // Zero padding to a multiple of four, then the check.
        uint64_t next = data + compressed;
        const uint32_t padding = static_cast<uint32_t>((4 - compressed % 4) % 4);
        const uint8_t* pad = source.size() - next >= padding + check ? source.Peek(next, padding) : nullptr;
        if (pad == nullptr && padding + check > 0) return false;
        for (uint32_t i = 0; i < padding; ++i) {
            if (pad[i] != 0) return false;
        }
        blocks.Add(header.size + compressed + check, uncompressed);
        block = next + padding + check;
    }
    uint64_t index = 0;
    if (!IndexHolds(source, block, blocks, &index)) return false;
    const uint64_t footer = block + index;
    const uint8_t* foot = source.size() - footer >= kFooterBytes ? source.Peek(footer, kFooterBytes) : nullptr;
    if (foot == nullptr || Crc32Of(foot + 4, 6) != Le32(foot) || uint64_t{Le32(foot + 4)} != index / 4 - 1 ||
        foot[8] != 0 || foot[9] != flags || foot[10] != 'Y' || foot[11] != 'Z')
        return false;
    *end = footer + kFooterBytes;
    return true;
}

}  // namespace

bool WalkXz(Source& source, Found* found) {
    uint64_t end = 0;
    if (!StreamHolds(source, 0, &end)) return false;
    for (uint64_t next = 0; end < source.size() && StreamHolds(source, end, &next);) end = next;
    *found = {end, "xz", "XZ compressed data"};
    return true;
}

}  // namespace formathound
