// The frame around jpeghound's syntax walk: the per-call state with its read
// buffer, the reading primitives, the single error exit and Detect.
#pragma once
#include <csetjmp>
#include <cstdint>
#include <type_traits>

#include "contract/kx_plugin.h"

namespace jpeghound {

// The texts a found item points at; constants, valid while the plug-in is loaded.
extern const char kJpegExtension[];    // "jpg"
extern const char kJpegDescription[];  // "JPG image"

// The most bytes one walk may read from its candidate position, as
// photohound bounds its walk: a stream that never ends (zeros served forever)
// must still end the walk. A walk that needs a byte beyond it rejects.
constexpr uint64_t kMaxWalkBytes = uint64_t{4} << 30;

// Why a candidate was rejected; one code per rule, so that a test can say
// which rule a stream broke. kAccepted when Detect answers 1.
enum class JpegReject : uint8_t {
    kAccepted,
    kNoStartOfImage,     // not FF D8 FF at the position
    kPastDataEnd,        // the stream ends (GetSize) before the image does
    kWalkBound,          // the image would run past the walk bound
    kNoMarker,           // a byte other than FF where a marker must stand
    kStrayMarker,        // TEM, JPG, JPGn, reserved codes, SOI, FF 00 between segments
    kHierarchical,       // SOF5-7, SOF13-15, DHP, EXP: not supported
    kSegmentLength,      // a length below 2, or above what the segment may hold
    kQuantizationTable,  // DQT: Pq, Tq, or the length not used up exactly
    kHuffmanTable,       // DHT: Tc, Th, code counts, or the length not used up exactly
    kConditioning,       // DAC: Tc, Tb, the value, or an odd length
    kRestartInterval,    // DRI: length other than 4
    kFrameHeader,        // P, X, Nf, identifiers, sampling, Tq, Lf
    kSecondFrame,        // a second SOF
    kScanBeforeFrame,    // SOS before any SOF
    kScanHeader,         // Ns, selectors, Ss, Se, Ah, Al, Ls
    kTableMissing,       // a scan uses a table not defined before it
    kRestartMarker,      // RSTn without an interval or out of its cyclic order
    kNumberOfLines,      // DNL misplaced or wrong, or Y = 0 and no DNL
    kFillBeforeZero,     // FF FF 00 in entropy-coded data
    kNoScan,             // EOI before the first scan
};

// Room for the longest segment the walk parses (DHT with eight full tables)
// and the blocks of entropy-coded data.
constexpr uint32_t kBufferBytes = 16384;
// The first block of a scan's data is small, so that a short scan costs
// little reading past its end; each further block doubles.
constexpr uint32_t kFirstDataBlock = 512;

// One frame component: identifier, sampling factors and quantisation table.
struct FrameComponent {
    uint8_t id;
    uint8_t horizontal;
    uint8_t vertical;
    uint8_t quant_table;
};

// State of one Detect call; lives in Detect's frame and is plain data, so
// the error exit may jump over every frame that uses it.
struct JpegState {
    const HostReader* reader;   // the host's reader; not owned
    uint64_t cursor;            // position of the next byte the walk takes
    uint64_t limit;             // no byte at or past it is read: data end or walk bound
    bool limit_is_data_end;     // which of the two the limit is
    JpegReject reason;          // set by Fail
    // The buffer holds the bytes at [buffer_start, buffer_start + buffer_size).
    uint64_t buffer_start;
    uint32_t buffer_size;
    // Tables defined so far, one bit per destination.
    uint8_t quant_tables;       // Tq 0-3
    uint8_t dc_tables;          // Huffman Tc 0, Th 0-3
    uint8_t ac_tables;          // Huffman Tc 1, Th 0-3
    uint16_t restart_interval;  // Ri of the latest DRI; 0: no restart markers
    // The frame: its SOF code (0 before it), P, Y, X and components.
    uint8_t frame_marker;
    uint8_t precision;
    uint16_t lines;
    uint16_t samples_per_line;
    uint16_t component_count;
    uint32_t scans;             // scans read so far
    FrameComponent components[255];
    std::jmp_buf error_exit;    // where Fail returns to
    uint8_t buffer[kBufferBytes];
};
static_assert(std::is_trivially_destructible_v<JpegState>,
              "the error exit jumps over the state without destroying it");

// Records reason and takes the error exit: Detect answers 0. Never returns.
[[noreturn]] void Fail(JpegState& state, JpegReject reason);

// Rejects for truncation: past the data's end or past the walk bound.
[[noreturn]] void FailAtLimit(JpegState& state);

// Reads count bytes at cursor into the buffer (fewer at the limit; none
// past it: then the walk fails). Bytes already buffered are read again.
void Fill(JpegState& state, uint32_t count);

// Makes count bytes at cursor (count <= kBufferBytes) available in the
// buffer and returns them; cursor does not move. Reads no more than count.
inline const uint8_t* Need(JpegState& state, uint32_t count) {
    const uint64_t offset = state.cursor - state.buffer_start;
    if (offset >= state.buffer_size || state.buffer_size - offset < count) {
        if (state.cursor > state.limit || state.limit - state.cursor < count) FailAtLimit(state);
        Fill(state, count);
        return state.buffer;
    }
    return state.buffer + offset;
}

// The byte at cursor; cursor grows by one.
inline uint8_t NextByte(JpegState& state) {
    const uint8_t byte = *Need(state, 1);
    ++state.cursor;
    return byte;
}

// Two bytes, big-endian: every JPEG length and dimension.
inline uint16_t NextWord(JpegState& state) {
    const uint8_t* bytes = Need(state, 2);
    state.cursor += 2;
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// 1 when a JPEG stream starts exactly at position: item then spans it
// through its EOI. 0 otherwise, with item untouched. A position without
// FF D8 FF costs at most three ReadByte calls; the rest is read with
// ReadBlock, never past GetSize or past max_walk_bytes from position (tests
// lower it). reason, when given, receives why the candidate was rejected.
uint32_t Detect(const HostReader* reader, uint64_t position, FoundItem* item,
                uint64_t max_walk_bytes = kMaxWalkBytes, JpegReject* reason = nullptr);

}  // namespace jpeghound
