// AIFF and AIFF-C files: an IFF FORM chunk (big-endian sizes, chunks padded
// to even) of form type AIFF or AIFC whose chunks fill it exactly, with one
// COMM and an SSND (AIFC also FVER). The item ends at the FORM's end, behind
// its pad byte when its size is odd.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

constexpr uint32_t kAifcVersion1 = 0xA2805140;  // the one FVER timestamp defined


// COMM: channels, sample frames, sample size and the sample rate as an
// 80-bit float; AIFC adds a compression type and its name. Samples of 1 to
// 32 bits (AIFC: up to 64, for doubles, or 0 where compressed); the rate a
// positive normal number from 1 Hz to under 2^32 Hz.
bool CommonHolds(Source& source, uint64_t data, uint32_t size, bool aifc) {
    if (size < (aifc ? 22u : 18u)) return false;
    const uint8_t* p = source.Peek(data, 18);
    if (p == nullptr) return false;
    const uint32_t channels = Be16(p), sample_bits = Be16(p + 6), exponent = Be16(p + 8);
    const bool normal = (p[10] & 0x80) != 0;
    return channels > 0 && sample_bits <= (aifc ? 64u : 32u) && (aifc || sample_bits > 0) && normal &&
           exponent >= 16383 && exponent <= 16383 + 31;
}

}  // namespace

bool WalkAiff(Source& source, Found* found) {
    const uint8_t* head = source.Peek(0, 12);
    if (head == nullptr || !Is(head, "FORM")) return false;
    const bool aifc = Is(head + 8, "AIFC");
    const uint32_t size = Be32(head + 4);
    if ((!aifc && !Is(head + 8, "AIFF")) || size < 4) return false;
    const uint64_t end = 8 + uint64_t{size};
    if (end + (size & 1) > source.size()) return false;  // cut short

    bool common = false, sound = false, version = false;
    uint64_t at = 12;
    // Each chunk's data fits the FORM; the last one's pad may be the FORM's.
    while (at < end) {
        const uint8_t* chunk = end - at >= 8 ? source.Peek(at, 8) : nullptr;
        if (!source.Step() || chunk == nullptr) return false;
        for (int i = 0; i < 4; ++i) {
            if (chunk[i] < 0x20 || chunk[i] > 0x7E) return false;
        }
        const uint32_t chunk_size = Be32(chunk + 4);
        const uint64_t data = at + 8;
        if (chunk_size > end - data) return false;
        if (Is(chunk, "COMM")) {
            if (common || !CommonHolds(source, data, chunk_size, aifc)) return false;
            common = true;
        } else if (Is(chunk, "SSND")) {
            if (sound || chunk_size < 8) return false;  // data offset and block size
            sound = true;
        } else if (Is(chunk, "FVER")) {
            uint32_t timestamp = 0;
            if (!aifc || chunk_size != 4 || !source.Be32(data, &timestamp) || timestamp != kAifcVersion1)
                return false;
            version = true;
        }
        at = data + chunk_size + (chunk_size & 1);
    }
    if (!common || !sound || (aifc && !version)) return false;
    if (aifc) {
        *found = {end + (size & 1), "aifc", "AIFF-C audio"};
    } else {
        *found = {end + (size & 1), "aiff", "AIFF audio"};
    }
    return true;
}

}  // namespace formathound
