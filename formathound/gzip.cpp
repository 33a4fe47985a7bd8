// GZIP members: the 10-byte header (1F 8B, method 8, flags without reserved
// bits, time, extra flags, system), its optional extra field, name, comment
// and header CRC-16; the deflate stream, parsed block by block to the end of
// its final block; and the trailer, whose ISIZE must equal the length the
// stream decodes to, modulo 2^32. Nothing is inflated: literals and matches
// are only counted, so the CRC-32 of the data stays unchecked. The parse
// rejects what an inflater rejects: stored lengths whose complement is
// wrong, code lengths that over-subscribe or leave a code incomplete (but a
// single one-bit code), symbols no code assigns, a distance reaching before
// the member's first byte. Members that directly follow (files concatenated)
// extend the item while each is whole.
#include <cstring>

#include "formathound/crc.h"
#include "formathound/walks.h"
#include "formathound/window_feed.h"

namespace formathound {

namespace {

constexpr uint32_t kFlagCrc = 0x02, kFlagExtra = 0x04, kFlagName = 0x08, kFlagComment = 0x10;
// The longest name or comment, with its NUL.
constexpr uint32_t kMaxString = 65536;

// A Huffman code: a table indexed by the next kFast bits of the stream
// (codes arrive most significant bit first, so the index is a code's bits
// reversed), and for longer codes the canonical counts and symbols.
template <uint32_t kFast, uint32_t kSymbols>
struct Code {
    static constexpr uint32_t kFastBits = kFast;
    uint16_t fast[1u << kFast];  // symbol << 4 | length; 0: a longer code, or none
    uint16_t count[16];          // codes of each length
    uint16_t symbol[kSymbols];   // symbols by length, then value
};
using LiteralCode = Code<10, 288>;
using DistanceCode = Code<8, 32>;
using LengthsCode = Code<7, 19>;

// Builds code from the lengths of n symbols. False for an over-subscribed
// code, and for an incomplete one other than a single code of one bit,
// which may stand for a lone distance (or end-of-block) symbol.
template <typename C>
constexpr bool Build(C& code, const uint8_t* lengths, uint32_t n) {
    for (uint32_t i = 0; i < (1u << C::kFastBits); ++i) code.fast[i] = 0;
    for (uint32_t len = 0; len < 16; ++len) code.count[len] = 0;
    for (uint32_t s = 0; s < n; ++s) ++code.count[lengths[s]];
    code.count[0] = 0;
    int32_t left = 1;
    uint32_t longest = 0;
    for (uint32_t len = 1; len < 16; ++len) {
        left = left * 2 - code.count[len];
        if (left < 0) return false;
        if (code.count[len] != 0) longest = len;
    }
    if (left > 0 && longest > 1) return false;
    uint16_t offset[16] = {};
    for (uint32_t len = 1; len < 15; ++len) offset[len + 1] = offset[len] + code.count[len];
    // Canonical codes: consecutive within a length, in symbol order.
    uint32_t next[16] = {};
    for (uint32_t len = 1, value = 0; len < 16; ++len) next[len] = value = (value + code.count[len - 1]) << 1;
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t len = lengths[s];
        if (len == 0) continue;
        code.symbol[offset[len]++] = static_cast<uint16_t>(s);
        const uint32_t value = next[len]++;
        if (len > C::kFastBits) continue;
        uint32_t reversed = 0;
        for (uint32_t b = 0; b < len; ++b) reversed |= (value >> b & 1) << (len - 1 - b);
        for (uint32_t i = reversed; i < (1u << C::kFastBits); i += 1u << len) {
            code.fast[i] = static_cast<uint16_t>(s << 4 | len);
        }
    }
    return true;
}

// The codes of fixed Huffman blocks; symbols 286, 287 and distances 30, 31
// have codes but stand for nothing.
struct FixedCodes {
    LiteralCode literal;
    DistanceCode distance;
    constexpr FixedCodes() : literal(), distance() {
        uint8_t lengths[288] = {};
        for (uint32_t s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        Build(literal, lengths, 288);
        for (uint32_t s = 0; s < 32; ++s) lengths[s] = 5;
        Build(distance, lengths, 32);
    }
};
constexpr FixedCodes kFixed;

// Match lengths of symbols 257-285 and distances of symbols 0-29: the base
// and the count of extra bits.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                        33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The deflate bit stream, least significant bit first, fed from the Source
// in windows that grow to kWindowBytes. Past the data it feeds zero bytes,
// and refuses to refill once any of them has been taken.
class Bits : private WindowFeed {
public:
    Bits(Source& source, uint64_t at) : WindowFeed(source, at) {}

    // At least 56 bits in the buffer; false past the data or the budget.
    bool Refill() {
        if (count_ >= 56) return true;
        if (end_ - p_ >= 8) {
            buffer_ |= Le64(p_) << count_;
            p_ += (63 - count_) >> 3;
            count_ |= 56;
            return true;
        }
        return RefillSlowly();
    }
    uint32_t Peek(uint32_t n) const { return static_cast<uint32_t>(buffer_ & ((uint64_t{1} << n) - 1)); }
    void Drop(uint32_t n) {
        buffer_ >>= n;
        count_ -= n;
    }
    uint32_t Take(uint32_t n) {
        const uint32_t value = Peek(n);
        Drop(n);
        return value;
    }
    uint64_t buffer() const { return buffer_; }
    // The symbols of a compressed block to its end-of-block, counting the
    // bytes they stand for into *out.
    bool Symbols(const LiteralCode& literal, const DistanceCode& distance, uint64_t* out);

    // Drops the bits to the next byte boundary; false when that lies past
    // the data. Sets *at to the offset of the next byte.
    bool Align(uint64_t* at) {
        Drop(count_ & 7);
        const uint64_t fed = Fed();
        if (padded_ > count_ / 8) return false;
        *at = fed - count_ / 8;
        return true;
    }
    // Goes on at offset at (behind a stored block), dropping the buffer.
    bool Seek(uint64_t at) {
        if (at > source_.size()) return false;
        buffer_ = 0;
        count_ = 0;
        padded_ = 0;
        at_end_ = false;
        if (at >= chunk_at_ && at - chunk_at_ <= static_cast<uint64_t>(end_ - base_)) {
            p_ = base_ + (at - chunk_at_);
        } else {
            base_ = p_ = end_ = nullptr;
            chunk_at_ = at;
        }
        return true;
    }

private:
    bool RefillSlowly() {
        if (padded_ * 8 > count_) return false;  // bits taken past the data
        while (count_ <= 56) {
            uint32_t byte = 0;
            if (!NextByte(&byte)) return false;
            buffer_ |= uint64_t{byte} << count_;
            count_ += 8;
        }
        return true;
    }

    uint64_t buffer_ = 0;
    uint32_t count_ = 0;   // bits in the buffer
};

// The entry (symbol << 4 | length) of the code that begins the buffer, of
// at least 15 bits; 0 for bits that no code stands for.
template <typename C>
inline uint32_t Lookup(const C& code, uint64_t buffer) {
    const uint32_t entry = code.fast[buffer & ((1u << C::kFastBits) - 1)];
    if (entry != 0) return entry;
    // Longer than the table: canonical decoding, bit by bit.
    for (uint32_t len = 1, value = 0, first = 0, index = 0; len < 16; ++len) {
        value |= buffer & 1;
        buffer >>= 1;
        if (value - first < code.count[len]) return uint32_t{code.symbol[index + value - first]} << 4 | len;
        index += code.count[len];
        first = (first + code.count[len]) << 1;
        value <<= 1;
    }
    return 0;
}

// The next symbol of code; false for bits that no code stands for.
template <typename C>
inline bool Decode(Bits& bits, const C& code, uint32_t* symbol) {
    const uint32_t entry = Lookup(code, bits.buffer());
    bits.Drop(entry & 15);
    *symbol = entry >> 4;
    return entry != 0;
}

bool Bits::Symbols(const LiteralCode& literal, const DistanceCode& distance, uint64_t* out) {
    // The hot loop keeps the buffer in locals, and stores them back only
    // to refill near the end of a window.
    uint64_t length = *out, buffer = buffer_;
    uint32_t count = count_;
    const uint8_t* p = p_;
    for (;;) {
        if (count < 56) {
            if (end_ - p >= 8) {
                buffer |= Le64(p) << count;
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
        // A length symbol, its extra bits, a distance symbol and its extra
        // bits take 48 bits at most.
        uint32_t entry = Lookup(literal, buffer);
        buffer >>= entry & 15;
        count -= entry & 15;
        uint32_t symbol = entry >> 4;
        if (symbol < 256) {
            if (entry == 0) return false;
            ++length;
            continue;
        }
        if (symbol == 256) break;
        symbol -= 257;
        if (symbol >= 29) return false;
        uint32_t extra = kLengthExtra[symbol];
        const uint32_t match = kLengthBase[symbol] + static_cast<uint32_t>(buffer & ((1u << extra) - 1));
        buffer >>= extra;
        count -= extra;
        entry = Lookup(distance, buffer);
        buffer >>= entry & 15;
        count -= entry & 15;
        symbol = entry >> 4;
        if (entry == 0 || symbol >= 30) return false;
        extra = kDistanceExtra[symbol];
        const uint32_t back = kDistanceBase[symbol] + static_cast<uint32_t>(buffer & ((1u << extra) - 1));
        buffer >>= extra;
        count -= extra;
        if (back > length) return false;
        length += match;
    }
    buffer_ = buffer;
    count_ = count;
    p_ = p;
    *out = length;
    return true;
}

// A dynamic block's header: the code of the code lengths, then the lengths
// of the literal/length and distance codes, which it run-length codes.
bool DynamicCodes(Bits& bits, LiteralCode* literal, DistanceCode* distance) {
    constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    if (!bits.Refill()) return false;
    const uint32_t literals = bits.Take(5) + 257, distances = bits.Take(5) + 1, lengths = bits.Take(4) + 4;
    if (literals > 286 || distances > 30) return false;
    uint8_t order_lengths[19] = {};
    for (uint32_t i = 0; i < lengths; ++i) {
        if (!bits.Refill()) return false;
        order_lengths[kOrder[i]] = static_cast<uint8_t>(bits.Take(3));
    }
    LengthsCode code;
    if (!Build(code, order_lengths, 19)) return false;
    uint8_t all[286 + 30] = {};
    for (uint32_t i = 0; i < literals + distances;) {
        uint32_t symbol = 0;
        if (!bits.Refill() || !Decode(bits, code, &symbol)) return false;
        if (symbol < 16) {
            all[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat = 0;
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0) return false;
            value = all[i - 1];
            repeat = 3 + bits.Take(2);
        } else {
            repeat = symbol == 17 ? 3 + bits.Take(3) : 11 + bits.Take(7);
        }
        if (repeat > literals + distances - i) return false;
        while (repeat-- > 0) all[i++] = value;
    }
    return all[256] != 0 && Build(*literal, all, literals) && Build(*distance, all + literals, distances);
}

// The deflate stream from offset at to the end of its final block; sets
// *end to the byte behind it and *out to the bytes it decodes to.
bool Deflate(Source& source, uint64_t at, uint64_t* end, uint64_t* out) {
    Bits bits(source, at);
    LiteralCode literal;
    DistanceCode distance;
    *out = 0;
    for (bool last = false; !last;) {
        if (!source.Step() || !bits.Refill()) return false;
        last = bits.Take(1);
        const uint32_t type = bits.Take(2);
        if (type == 0) {
            // Stored: LEN and its complement NLEN from the next byte on.
            uint64_t data = 0;
            if (!bits.Align(&data) || !bits.Refill()) return false;
            const uint32_t size = bits.Take(16), check = bits.Take(16);
            if ((size ^ check) != 0xFFFF || !bits.Seek(data + 4 + size)) return false;
            *out += size;
        } else if (type == 1) {
            if (!bits.Symbols(kFixed.literal, kFixed.distance, out)) return false;
        } else if (type == 2) {
            if (!DynamicCodes(bits, &literal, &distance) || !bits.Symbols(literal, distance, out))
                return false;
        } else {
            return false;
        }
    }
    return bits.Align(end);
}

// The end of a NUL-terminated string at offset at, behind its NUL.
bool SkipString(Source& source, uint64_t at, uint64_t* end) {
    for (uint64_t from = at, part = 256; from - at < kMaxString; from += part, part *= 2) {
        if (part > kMaxString - (from - at)) part = kMaxString - (from - at);
        if (part > source.size() - from) part = source.size() - from;
        const uint8_t* bytes = part > 0 ? source.Peek(from, static_cast<uint32_t>(part)) : nullptr;
        if (bytes == nullptr) return false;
        const void* nul = std::memchr(bytes, 0, part);
        if (nul != nullptr) {
            *end = from + static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - bytes) + 1;
            return true;
        }
    }
    return false;
}

// The member header at offset at; sets *end behind it.
bool HeaderHolds(Source& source, uint64_t at, uint64_t* end) {
    const uint8_t* head = source.size() - at >= 18 ? source.Peek(at, 10) : nullptr;
    if (head == nullptr || head[0] != 0x1F || head[1] != 0x8B || head[2] != 8 || (head[3] & 0xE0) != 0)
        return false;
    const uint32_t flags = head[3];
    uint64_t next = at + 10;
    if (flags & kFlagExtra) {
        uint32_t extra = 0;
        if (!source.Le16(next, &extra) || extra > source.size() - next - 2) return false;
        next += 2 + extra;
    }
    if ((flags & kFlagName) && !SkipString(source, next, &next)) return false;
    if ((flags & kFlagComment) && !SkipString(source, next, &next)) return false;
    if (flags & kFlagCrc) {
        // The low 16 bits of the CRC-32 of the header before it.
        uint32_t stored = 0, crc = 0;
        if (!source.Le16(next, &stored) || !ReflectedCrc32Of(source, at, next - at, &crc) || (crc & 0xFFFF) != stored)
            return false;
        next += 2;
    }
    *end = next;
    return true;
}

// One member at offset at: header, deflate stream, trailer; sets *end
// behind its trailer.
bool MemberHolds(Source& source, uint64_t at, uint64_t* end) {
    uint64_t data = 0, trailer = 0, out = 0;
    if (!HeaderHolds(source, at, &data) || !Deflate(source, data, &trailer, &out)) return false;
    uint32_t isize = 0;
    if (source.size() - trailer < 8 || !source.Le32(trailer + 4, &isize) || isize != static_cast<uint32_t>(out))
        return false;
    *end = trailer + 8;
    return true;
}

}  // namespace

bool WalkGzip(Source& source, Found* found) {
    uint64_t end = 0;
    if (!MemberHolds(source, 0, &end)) return false;
    for (uint64_t next = 0; end < source.size() && source.Step() && MemberHolds(source, end, &next);) end = next;
    *found = {end, "gz", "GZIP compressed data"};
    return true;
}

}  // namespace formathound
