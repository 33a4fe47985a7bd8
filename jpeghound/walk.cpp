// Syntax walk: reads a JPEG stream by the marker syntax of T.81 Annex B,
// strictly, from SOI to EOI; decodes nothing.
#include "jpeghound/walk.h"

#include <cstring>

#include "contract/jpeg_markers.h"

namespace jpeghound {
namespace {

constexpr uint16_t kFixedSegmentLength = 4;  // DRI and DNL: the length and one word
constexpr int kTableDestinations = 4;        // Tq, Th, Tb: 0-3
constexpr int kHuffmanCodeCounts = 16;
constexpr int kMaxHuffmanSymbols = 256;
constexpr int kMaxComponents = 255;
constexpr int kMaxProgressiveComponents = 4;
constexpr int kMaxScanComponents = 4;
constexpr int kMaxBlocksPerMcu = 10;  // data units in one MCU of an interleaved scan
constexpr int kMaxSampling = 4;
constexpr int kLastCoefficient = 63;
constexpr int kMaxProgressiveApproximation = 13;
constexpr int kMaxLosslessPredictor = 7;
// Table segments hold whole tables; longer claims than the buffer are
// rejected before anything is read.
constexpr uint32_t kMaxTableSegment = kBufferBytes + 2;

bool IsProgressive(uint8_t frame) { return frame == kSOF2 || frame == kSOF10; }
bool IsLossless(uint8_t frame) { return frame == kSOF3 || frame == kSOF11; }
bool IsArithmetic(uint8_t frame) { return frame >= kSOF9; }

// Moves cursor over count bytes without reading them; they must lie before
// the limit.
void Skip(JpegState& state, uint32_t count) {
    if (state.limit - state.cursor < count) FailAtLimit(state);
    state.cursor += count;
}

// Reads a segment's length, which must lie in [min_length, max_length], and
// returns its body in the buffer, with cursor past it; *size gets the
// body's length.
const uint8_t* ReadSegment(JpegState& state, uint32_t min_length, uint32_t max_length,
                           uint32_t* size) {
    const uint16_t length = NextWord(state);
    if (length < min_length || length > max_length) Fail(state, JpegReject::kSegmentLength);
    *size = length - 2u;
    const uint8_t* body = Need(state, *size);
    state.cursor += *size;
    return body;
}

uint16_t Word(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

// Index of the frame component with identifier id; -1 when none.
int ComponentIndex(const JpegState& state, uint8_t id) {
    for (int i = 0; i < state.component_count; ++i) {
        if (state.components[i].id == id) return i;
    }
    return -1;
}

// P as the frame's process allows it.
bool PrecisionAllowed(uint8_t frame, uint8_t precision) {
    if (frame == kSOF0) return precision == 8;
    if (IsLossless(frame)) return precision >= 2 && precision <= 16;
    return precision == 8 || precision == 12;
}

// Ss, Se, Ah and Al as the frame's process allows them.
bool SpectralSelectionAllowed(const JpegState& state, int ns, int ss, int se, int ah, int al) {
    const uint8_t frame = state.frame_marker;
    if (IsLossless(frame)) {
        return ss >= 1 && ss <= kMaxLosslessPredictor && se == 0 && ah == 0 && al < state.precision;
    }
    if (!IsProgressive(frame)) return ss == 0 && se == kLastCoefficient && ah == 0 && al == 0;
    // Progressive: a DC scan (Ss = Se = 0) may interleave; an AC band has one
    // component.
    if (se < ss || se > kLastCoefficient || (ss == 0) != (se == 0)) return false;
    if (ss > 0 && ns != 1) return false;
    return ah <= kMaxProgressiveApproximation && al <= kMaxProgressiveApproximation;
}

// Each Huffman table's code counts must leave room for the reserved
// all-ones code at every length (T.81 Annex C).
bool CodeCountsFit(const uint8_t* counts) {
    uint32_t next_code = 0;
    for (int length = 1; length <= kHuffmanCodeCounts; ++length) {
        next_code += counts[length - 1];
        if (next_code >= (uint32_t{1} << length)) return false;
        next_code <<= 1;
    }
    return true;
}

}  // namespace

void WalkJpeg(JpegState& state) {
    uint8_t code = MarkerCode(state);
    bool after_scan = false;  // the marker ended a scan's entropy-coded data
    for (;;) {
        switch (code) {
            case kSOF0: case kSOF1: case kSOF2: case kSOF3:
            case kSOF9: case kSOF10: case kSOF11:
                ParseFrameHeader(state, code);
                break;
            // Hierarchical streams (differential frames, DHP, EXP) are rejected:
            // no common encoder writes them and libjpeg reads none, so a match
            // could be checked by nothing, and their frames would double the walk.
            case kSOF5: case kSOF6: case kSOF7:
            case kSOF13: case kSOF14: case kSOF15:
            case kDHP: case kEXP:
                Fail(state, JpegReject::kHierarchical);
            case kDQT:
                ParseQuantizationTables(state);
                break;
            case kDHT:
                ParseHuffmanTables(state);
                break;
            case kDAC:
                ParseConditioning(state);
                break;
            case kDRI:
                ParseRestartInterval(state);
                break;
            case kDNL:
                if (!after_scan || state.scans != 1) Fail(state, JpegReject::kNumberOfLines);
                ParseNumberOfLines(state);
                break;
            case kCOM:
                SkipSegment(state);
                break;
            case kSOS:
                ParseScanHeader(state);
                code = ScanEntropyCodedData(state);
                after_scan = true;
                continue;
            case kEOI:
                if (state.scans == 0) Fail(state, JpegReject::kNoScan);
                if (state.lines == 0) Fail(state, JpegReject::kNumberOfLines);
                return;
            default:
                if (code >= kAPP0 && code <= kAPP15) {
                    SkipSegment(state);
                    break;
                }
                // TEM, RSTn outside scan data, JPG, JPGn, reserved codes, SOI.
                Fail(state, JpegReject::kStrayMarker);
        }
        after_scan = false;
        code = NextMarker(state);
    }
}

uint8_t NextMarker(JpegState& state) {
    if (NextByte(state) != kMarkerPrefix) Fail(state, JpegReject::kNoMarker);
    return MarkerCode(state);
}

uint8_t MarkerCode(JpegState& state) {
    uint8_t code = NextByte(state);
    while (code == kMarkerPrefix) code = NextByte(state);  // fill bytes
    if (code == kStuffedZero) Fail(state, JpegReject::kStrayMarker);
    return code;
}

void SkipSegment(JpegState& state) {
    const uint16_t length = NextWord(state);
    if (length < 2) Fail(state, JpegReject::kSegmentLength);
    Skip(state, length - 2u);
}

void ParseQuantizationTables(JpegState& state) {
    uint32_t size;
    const uint8_t* body = ReadSegment(state, 3, kMaxTableSegment, &size);
    for (uint32_t at = 0; at < size;) {
        const int precision = body[at] >> 4, destination = body[at] & 0x0F;
        if (precision > 1 || destination >= kTableDestinations) {
            Fail(state, JpegReject::kQuantizationTable);
        }
        const uint32_t value_bytes = precision + 1u;
        if (size - at < 1 + 64 * value_bytes) Fail(state, JpegReject::kQuantizationTable);
        // Every quantisation value is at least 1.
        for (uint32_t k = 0; k < 64; ++k) {
            const uint8_t* value = body + at + 1 + k * value_bytes;
            if (value[0] == 0 && value[value_bytes - 1] == 0) {
                Fail(state, JpegReject::kQuantizationTable);
            }
        }
        state.quant_tables |= 1u << destination;
        at += 1 + 64 * value_bytes;
    }
}

void ParseHuffmanTables(JpegState& state) {
    uint32_t size;
    const uint8_t* body = ReadSegment(state, 3, kMaxTableSegment, &size);
    for (uint32_t at = 0; at < size;) {
        if (size - at < 1u + kHuffmanCodeCounts) Fail(state, JpegReject::kHuffmanTable);
        const int table_class = body[at] >> 4, destination = body[at] & 0x0F;
        if (table_class > 1 || destination >= kTableDestinations) {
            Fail(state, JpegReject::kHuffmanTable);
        }
        const uint8_t* counts = body + at + 1;
        uint32_t symbols = 0;
        for (int i = 0; i < kHuffmanCodeCounts; ++i) symbols += counts[i];
        if (symbols > kMaxHuffmanSymbols || !CodeCountsFit(counts)) {
            Fail(state, JpegReject::kHuffmanTable);
        }
        if (size - at - 1 - kHuffmanCodeCounts < symbols) Fail(state, JpegReject::kHuffmanTable);
        (table_class == 0 ? state.dc_tables : state.ac_tables) |= 1u << destination;
        at += 1 + kHuffmanCodeCounts + symbols;
    }
}

void ParseConditioning(JpegState& state) {
    uint32_t size;
    const uint8_t* body = ReadSegment(state, 4, kMaxTableSegment, &size);
    if (size % 2 != 0) Fail(state, JpegReject::kConditioning);
    for (uint32_t at = 0; at < size; at += 2) {
        const int table_class = body[at] >> 4, destination = body[at] & 0x0F;
        const uint8_t value = body[at + 1];
        if (table_class > 1 || destination >= kTableDestinations) {
            Fail(state, JpegReject::kConditioning);
        }
        // DC: the bounds L (low four bits) <= U; AC: Kx from 1 to 63.
        const bool fits = table_class == 0 ? (value & 0x0F) <= (value >> 4)
                                           : value >= 1 && value <= kLastCoefficient;
        if (!fits) Fail(state, JpegReject::kConditioning);
    }
}

void ParseRestartInterval(JpegState& state) {
    if (NextWord(state) != kFixedSegmentLength) Fail(state, JpegReject::kRestartInterval);
    state.restart_interval = NextWord(state);
}

void ParseNumberOfLines(JpegState& state) {
    // Only a frame that left Y at 0 takes its line count from DNL.
    if (NextWord(state) != kFixedSegmentLength) Fail(state, JpegReject::kNumberOfLines);
    const uint16_t lines = NextWord(state);
    if (state.lines != 0 || lines == 0) Fail(state, JpegReject::kNumberOfLines);
    state.lines = lines;
}

void ParseFrameHeader(JpegState& state, uint8_t marker) {
    if (state.frame_marker != 0) Fail(state, JpegReject::kSecondFrame);
    uint32_t size;
    const uint8_t* body = ReadSegment(state, 8, 8 + 3 * kMaxComponents, &size);
    state.frame_marker = marker;
    state.precision = body[0];
    state.lines = Word(body + 1);  // 0: a DNL segment gives it after the first scan
    state.samples_per_line = Word(body + 3);
    state.component_count = body[5];
    const int count = state.component_count;
    if (size + 2 != 8 + 3u * count || count == 0 || state.samples_per_line == 0 ||
        !PrecisionAllowed(marker, state.precision) ||
        (IsProgressive(marker) && count > kMaxProgressiveComponents)) {
        Fail(state, JpegReject::kFrameHeader);
    }
    for (int i = 0; i < count; ++i) {
        const uint8_t* fields = body + 6 + 3 * i;
        FrameComponent& component = state.components[i];
        component = {fields[0], static_cast<uint8_t>(fields[1] >> 4),
                     static_cast<uint8_t>(fields[1] & 0x0F), fields[2]};
        // Identifiers distinct; sampling 1-4; Tq 0-3, and 0 for lossless.
        if (ComponentIndex(state, component.id) != i || component.horizontal < 1 ||
            component.horizontal > kMaxSampling || component.vertical < 1 ||
            component.vertical > kMaxSampling || component.quant_table >= kTableDestinations ||
            (IsLossless(marker) && component.quant_table != 0)) {
            Fail(state, JpegReject::kFrameHeader);
        }
    }
}

void ParseScanHeader(JpegState& state) {
    if (state.frame_marker == 0) Fail(state, JpegReject::kScanBeforeFrame);
    // A frame with Y = 0 needs its DNL right after the first scan.
    if (state.scans > 0 && state.lines == 0) Fail(state, JpegReject::kNumberOfLines);
    uint32_t size;
    const uint8_t* body = ReadSegment(state, 6, 6 + 2 * kMaxScanComponents, &size);
    const int ns = body[0];
    if (ns < 1 || ns > kMaxScanComponents || size + 2 != 6 + 2u * ns) {
        Fail(state, JpegReject::kScanHeader);
    }
    const uint8_t* tail = body + 1 + 2 * ns;
    const int ss = tail[0], se = tail[1], ah = tail[2] >> 4, al = tail[2] & 0x0F;
    const uint8_t frame = state.frame_marker;
    if (!SpectralSelectionAllowed(state, ns, ss, se, ah, al)) Fail(state, JpegReject::kScanHeader);

    const int max_selector = frame == kSOF0 ? 1 : kTableDestinations - 1;
    int previous = -1, blocks = 0;
    for (int j = 0; j < ns; ++j) {
        // Components in the frame's order, each once.
        const int index = ComponentIndex(state, body[1 + 2 * j]);
        const int dc = body[2 + 2 * j] >> 4, ac = body[2 + 2 * j] & 0x0F;
        if (index <= previous || dc > max_selector || ac > max_selector ||
            (IsLossless(frame) && ac != 0)) {
            Fail(state, JpegReject::kScanHeader);
        }
        previous = index;
        const FrameComponent& component = state.components[index];
        blocks += component.horizontal * component.vertical;
        // The tables the scan uses, defined before it.
        bool defined = IsLossless(frame) || (state.quant_tables >> component.quant_table & 1);
        if (!IsArithmetic(frame)) {
            const bool needs_dc = IsProgressive(frame) ? ss == 0 && ah == 0 : true;
            const bool needs_ac = IsProgressive(frame) ? ss > 0 : !IsLossless(frame);
            if (needs_dc) defined = defined && (state.dc_tables >> dc & 1);
            if (needs_ac) defined = defined && (state.ac_tables >> ac & 1);
        }
        if (!defined) Fail(state, JpegReject::kTableMissing);
    }
    if (ns > 1 && blocks > kMaxBlocksPerMcu) Fail(state, JpegReject::kScanHeader);
    ++state.scans;
}

uint8_t ScanEntropyCodedData(JpegState& state) {
    uint32_t block = kFirstDataBlock;
    uint32_t next_restart = 0;  // each scan starts at RST0
    for (;;) {
        uint64_t offset = state.cursor - state.buffer_start;
        if (offset >= state.buffer_size) {
            Fill(state, block);
            block = block < kBufferBytes / 2 ? 2 * block : kBufferBytes;
            offset = 0;
        }
        const uint8_t* at = state.buffer + offset;
        const size_t left = state.buffer_size - offset;
        const auto* prefix = static_cast<const uint8_t*>(std::memchr(at, kMarkerPrefix, left));
        if (prefix == nullptr) {
            state.cursor += left;
            continue;
        }
        state.cursor += static_cast<uint64_t>(prefix - at) + 1;
        uint8_t code = NextByte(state);
        if (code == kStuffedZero) continue;
        if (code == kMarkerPrefix) {
            // Fill bytes may stand before a marker, not before a stuffed zero.
            while (code == kMarkerPrefix) code = NextByte(state);
            if (code == kStuffedZero) Fail(state, JpegReject::kFillBeforeZero);
        }
        if (code >= kRST0 && code <= kRST7) {
            if (state.restart_interval == 0 || code != kRST0 + next_restart) {
                Fail(state, JpegReject::kRestartMarker);
            }
            next_restart = (next_restart + 1) % 8;
            continue;
        }
        return code;
    }
}

}  // namespace jpeghound
