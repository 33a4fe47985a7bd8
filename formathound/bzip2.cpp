// BZIP2 streams: "BZh" and the block size level '1'-'9', then blocks, each
// behind the 48-bit magic 0x314159265359 and bit-aligned after the first,
// then the 48-bit end magic 0x177245385090, the stream CRC and zero bits to
// the byte. A block is parsed without undoing its sorting transform: its
// CRC, origin pointer, the map of bytes in use, the Huffman tables and the
// selectors that pick one per 50 symbols, then the symbols decoded to the
// end-of-block symbol, the block length (runs counted out) bounded by the
// level and above the origin pointer. The stream CRC must equal the block
// CRCs combined, which a missing or foreign block breaks. Streams that
// directly follow (parallel compressors write one per chunk) extend the
// item while each is whole.
#include <cstring>

#include "formathound/walks.h"
#include "formathound/window_feed.h"

namespace formathound {

namespace {

constexpr uint64_t kBlockMagic = 0x314159265359, kEndMagic = 0x177245385090;
constexpr uint32_t kMaxGroups = 6, kMaxAlphabet = 258, kMaxCodeLength = 20;
constexpr uint32_t kGroupSymbols = 50;
// Selectors past this count stand for no symbols; readers skip them.
constexpr uint32_t kMaxSelectors = 2 + 900000 / kGroupSymbols;
// The longest run that RUNA and RUNB symbols may code.
constexpr uint32_t kMaxRunWeight = 2 * 1024 * 1024;

struct Table;
struct Selectors;

// The bit stream, most significant bit first, fed from the Source in
// windows that grow to kWindowBytes. Past the data it feeds zero bytes,
// and refuses to refill once any of them has been taken.
class Bits : private WindowFeed {
public:
    Bits(Source& source, uint64_t at) : WindowFeed(source, at) {}

    // At least 56 bits in the buffer; false past the data or the budget.
    bool Refill() {
        if (count_ >= 56) return true;
        if (end_ - p_ >= 8) {
            buffer_ |= Be64(p_) >> count_;
            p_ += (63 - count_) >> 3;
            count_ |= 56;
            return true;
        }
        return RefillSlowly();
    }
    uint64_t buffer() const { return buffer_; }
    uint32_t count() const { return count_; }
    void Drop(uint32_t n) {
        buffer_ <<= n;
        count_ -= n;
    }
    // n bits, 1 to 32.
    uint32_t Take(uint32_t n) {
        const uint32_t value = static_cast<uint32_t>(buffer_ >> (64 - n));
        Drop(n);
        return value;
    }
    // The symbols of a block to its end-of-block symbol, with the table of
    // each group of 50 picked by its selector; sets *length to the bytes
    // they stand for (RUNA and RUNB runs counted out), at most limit.
    bool Symbols(const Table* tables, const Selectors& selectors, uint32_t selector_count, uint32_t end_of_block,
                 uint32_t limit, uint32_t* length);
    // The offset of the byte behind the last bit taken, when the bits to
    // it are zero; false past the data.
    bool AlignZero(uint64_t* at) {
        const uint32_t pad = count_ & 7;
        if (pad != 0 && Take(pad) != 0) return false;
        if (padded_ > count_ / 8) return false;
        *at = Fed() - count_ / 8;
        return true;
    }

private:
    bool RefillSlowly() {
        if (padded_ * 8 > count_) return false;  // bits taken past the data
        while (count_ <= 56) {
            uint32_t byte = 0;
            if (!NextByte(&byte)) return false;
            buffer_ |= uint64_t{byte} << (56 - count_);
            count_ += 8;
        }
        return true;
    }

    uint64_t buffer_ = 0;  // bits from the top
    uint32_t count_ = 0;   // bits in the buffer
};

// A Huffman table: the next kFastBits bits index the codes no longer; the
// canonical first code, count and symbols of each length serve the rest.
constexpr uint32_t kFastBits = 9;
struct Table {
    uint16_t fast[1u << kFastBits];  // symbol << 5 | length; 0: a longer code, or none
    uint32_t first[kMaxCodeLength + 1];
    uint16_t count[kMaxCodeLength + 1];
    uint16_t index[kMaxCodeLength + 1];  // of the first symbol of each length
    uint16_t symbol[kMaxAlphabet];
};

// The table of code lengths 1-20 of n symbols; false when they
// over-subscribe. An incomplete code is let through, as readers do, and a
// code it leaves unassigned fails when read.
bool Build(Table* table, const uint8_t* lengths, uint32_t n) {
    std::memset(table->fast, 0, sizeof table->fast);
    std::memset(table->count, 0, sizeof table->count);
    for (uint32_t s = 0; s < n; ++s) ++table->count[lengths[s]];
    int64_t left = 1;
    uint32_t code = 0, index = 0;
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        left = left * 2 - table->count[len];
        if (left < 0) return false;
        table->first[len] = code;
        table->index[len] = static_cast<uint16_t>(index);
        code = (code + table->count[len]) << 1;
        index += table->count[len];
    }
    uint32_t next[kMaxCodeLength + 1], slot[kMaxCodeLength + 1];
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        next[len] = table->first[len];
        slot[len] = table->index[len];
    }
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t len = lengths[s], value = next[len]++;
        table->symbol[slot[len]++] = static_cast<uint16_t>(s);
        if (len > kFastBits) continue;
        const uint32_t from = value << (kFastBits - len), to = (value + 1) << (kFastBits - len);
        for (uint32_t i = from; i < to; ++i) table->fast[i] = static_cast<uint16_t>(s << 5 | len);
    }
    return true;
}

// The entry (symbol << 5 | length) of the code at the top of the buffer,
// of at least 20 bits; 0 for bits that no code stands for.
inline uint32_t Lookup(const Table& table, uint64_t buffer) {
    const uint32_t entry = table.fast[buffer >> (64 - kFastBits)];
    if (entry != 0) return entry;
    for (uint32_t len = kFastBits + 1; len <= kMaxCodeLength; ++len) {
        const uint32_t value = static_cast<uint32_t>(buffer >> (64 - len)) - table.first[len];
        if (value < table.count[len]) return uint32_t{table.symbol[table.index[len] + value]} << 5 | len;
    }
    return 0;
}

// The selectors, three bits each.
struct Selectors {
    uint8_t bits[(kMaxSelectors * 3 + 7) / 8 + 1];
    void Set(uint32_t i, uint32_t value) {
        const uint32_t at = i * 3;
        uint32_t pair = bits[at / 8] | bits[at / 8 + 1] << 8;
        pair = (pair & ~(7u << (at % 8))) | value << (at % 8);
        bits[at / 8] = static_cast<uint8_t>(pair);
        bits[at / 8 + 1] = static_cast<uint8_t>(pair >> 8);
    }
    uint32_t Get(uint32_t i) const {
        const uint32_t at = i * 3;
        return (bits[at / 8] | bits[at / 8 + 1] << 8) >> (at % 8) & 7;
    }
};

// The map of bytes in use: 16 bits of ranges, 16 bits for each range in
// use. Sets *used to the count of bytes.
bool UsedMap(Bits& bits, uint32_t* used) {
    if (!bits.Refill()) return false;
    const uint32_t ranges = bits.Take(16);
    *used = 0;
    for (uint32_t r = 0; r < 16; ++r) {
        if (!(ranges >> (15 - r) & 1)) continue;
        if (!bits.Refill()) return false;
        uint32_t map = bits.Take(16);
        for (; map != 0; map &= map - 1) ++*used;
    }
    return *used > 0;
}

// The group count, the selectors (move-to-front coded, in unary) and the
// tables, their code lengths delta coded from a 5-bit start.
bool Tables(Bits& bits, uint32_t alphabet, Table* tables, Selectors* selectors, uint32_t* selector_count) {
    if (!bits.Refill()) return false;
    const uint32_t groups = bits.Take(3), count = bits.Take(15);
    if (groups < 2 || groups > kMaxGroups || count == 0) return false;
    uint8_t order[kMaxGroups] = {0, 1, 2, 3, 4, 5};
    const uint32_t kept = count < kMaxSelectors ? count : kMaxSelectors;
    std::memset(selectors->bits, 0, (kept * 3 + 7) / 8 + 1);
    for (uint32_t i = 0; i < count; ++i) {
        if (!bits.Refill()) return false;
        uint32_t j = 0;
        while (bits.Take(1)) {
            if (++j >= groups) return false;
        }
        const uint8_t group = order[j];
        for (; j > 0; --j) order[j] = order[j - 1];
        order[0] = group;
        if (i < kMaxSelectors) selectors->Set(i, group);
    }
    *selector_count = kept;
    uint8_t lengths[kMaxAlphabet];
    for (uint32_t t = 0; t < groups; ++t) {
        if (!bits.Refill()) return false;
        uint32_t length = bits.Take(5);
        for (uint32_t s = 0; s < alphabet; ++s) {
            for (;;) {
                if (length < 1 || length > kMaxCodeLength || !bits.Refill()) return false;
                if (!bits.Take(1)) break;
                length = bits.Take(1) ? length - 1 : length + 1;
            }
            lengths[s] = static_cast<uint8_t>(length);
        }
        if (!Build(&tables[t], lengths, alphabet)) return false;
    }
    return true;
}

bool Bits::Symbols(const Table* tables, const Selectors& selectors, uint32_t selector_count,
                   uint32_t end_of_block, uint32_t limit, uint32_t* length) {
    // The hot loop keeps the buffer in locals, and stores them back only
    // to refill near the end of a window.
    uint64_t buffer = buffer_;
    uint32_t count = count_, decoded = 0, run = 0, weight = 1, too_long = 0;
    const uint8_t* p = p_;
    for (uint32_t group = 0;; ++group) {
        if (group >= selector_count) return false;
        const Table& table = tables[selectors.Get(group)];
        for (uint32_t k = 0; k < kGroupSymbols; ++k) {
            if (count < kMaxCodeLength) {
                if (end_ - p >= 8) {
                    buffer |= Be64(p) >> count;
                    p += (63 - count) >> 3;
                    count |= 56;
                } else {
                    buffer_ = buffer;
                    count_ = count;
                    p_ = p;
                    if (!RefillSlowly()) return false;
                    buffer = buffer_;
                    count = count_;
                    p = p_;
                }
            }
            const uint32_t entry = Lookup(table, buffer);
            if (entry == 0) return false;
            buffer <<= entry & 31;
            count -= entry & 31;
            // Without branches on the symbol: RUNA adds the weight, RUNB
            // twice, and the weight doubles; any other symbol adds the run
            // and itself, and starts a new run. A run of too many symbols,
            // or a block past the limit, fails at the group's end.
            const uint32_t symbol = entry >> 5, is_run = symbol <= 1, mask = 0u - is_run;
            too_long |= is_run & (weight >= kMaxRunWeight);
            run += (weight << (symbol & 1)) & mask;
            decoded += (run + 1) & ~mask;
            run &= mask;
            weight = is_run ? weight << 1 : 1;
            if (symbol == end_of_block) {
                // The end of block stands for no byte.
                if (too_long || decoded - 1 > limit) return false;
                buffer_ = buffer;
                count_ = count;
                p_ = p;
                *length = decoded - 1;
                return true;
            }
        }
        if (too_long || decoded > limit) return false;
    }
}

// One block behind its magic and CRC, to the end of its end-of-block code.
bool BlockHolds(Source& source, Bits& bits, uint32_t level) {
    if (!source.Step() || !bits.Refill()) return false;
    bits.Take(1);  // randomised: an old writer's option, still read
    const uint32_t origin = bits.Take(24), limit = level * 100000;
    uint32_t used = 0, selector_count = 0;
    if (origin >= limit || !UsedMap(bits, &used)) return false;
    // Symbols: RUNA and RUNB, the move-to-front positions 1 to used - 1,
    // and the end of block.
    const uint32_t alphabet = used + 2, end_of_block = used + 1;
    Table tables[kMaxGroups];
    Selectors selectors;
    if (!Tables(bits, alphabet, tables, &selectors, &selector_count)) return false;
    uint32_t length = 0;
    return bits.Symbols(tables, selectors, selector_count, end_of_block, limit, &length) && origin < length;
}

// The stream at offset at; sets *end behind its padding.
bool StreamHolds(Source& source, uint64_t at, uint64_t* end) {
    const uint8_t* head = source.size() - at >= 14 ? source.Peek(at, 4) : nullptr;
    if (head == nullptr || head[0] != 'B' || head[1] != 'Z' || head[2] != 'h' || head[3] < '1' || head[3] > '9')
        return false;
    const uint32_t level = head[3] - '0';
    Bits bits(source, at + 4);
    uint32_t combined = 0;
    for (;;) {
        if (!bits.Refill()) return false;
        const uint64_t high = bits.Take(24), magic = high << 24 | bits.Take(24);
        if (!bits.Refill()) return false;
        const uint32_t crc = bits.Take(32);
        if (magic == kEndMagic) {
            if (crc != combined) return false;
            break;
        }
        if (magic != kBlockMagic || !BlockHolds(source, bits, level)) return false;
        combined = (combined << 1 | combined >> 31) ^ crc;
    }
    return bits.AlignZero(end);
}

}  // namespace

bool WalkBzip2(Source& source, Found* found) {
    uint64_t end = 0;
    if (!StreamHolds(source, 0, &end)) return false;
    for (uint64_t next = 0; end < source.size() && source.Step() && StreamHolds(source, end, &next);) end = next;
    *found = {end, "bz2", "BZIP2 compressed data"};
    return true;
}

}  // namespace formathound
