// Marker walk: checks a JPEG stream from SOI to EOI; decodes nothing.
#include "photohound/walk.h"

namespace {

// The most symbols a Huffman table holds: the sum of its 16 code counts.
constexpr int kMaxHuffmanSymbols = 256;
// Table destinations Th run from 0 to 3.
constexpr int kHuffmanDestinations = 4;
constexpr int kHuffmanCodeCounts = 16;
constexpr uint16_t kRestartIntervalLength = 4;
constexpr int kMinPrecision = 2;
constexpr int kMaxPrecision = 16;
constexpr int kMaxScanComponents = 4;

bool IsCheckedFrame(uint8_t marker) {
    return marker == kSOF0 || marker == kSOF1 || marker == kSOF3;
}

}  // namespace

bool ReadStartOfImage(JpegWalkState& state) {
    const uint8_t first = NextByte(state);
    const uint8_t second = NextByte(state);
    return first == kMarkerPrefix && second == kSOI;
}

void WalkJpeg(JpegWalkState& state) {
    state.restart_interval = 0;
    // Only the first marker's frame header is checked; any other marker here
    // leaves the bytes behind it to the next search.
    if (IsCheckedFrame(NextMarker(state))) ParseFrameHeader(state);
    // No scan: the marker that ended the search ends the image.
    if (!ParseScanHeader(state)) return;
    SkipEntropyCodedData(state);
}

uint8_t NextMarker(JpegWalkState& state) {
    for (;;) {
        while (NextByte(state) != kMarkerPrefix) {
        }
        uint8_t code = NextByte(state);
        while (code == kMarkerPrefix) code = NextByte(state);  // fill bytes
        if (code == kStuffedZero) continue;
        switch (code) {
            case kSOF0: case kSOF1: case kSOF2: case kSOF3:
            case kSOF5: case kSOF6: case kSOF7: case kJPG:
            case kSOF9: case kSOF10: case kSOF11:
            case kSOF13: case kSOF14: case kSOF15:
            case kSOI: case kEOI: case kSOS:
                return code;
            // Parameterless markers, and DQT, whose length and values are
            // searched like any other bytes.
            case kTEM:
            case kRST0: case kRST1: case kRST2: case kRST3:
            case kRST4: case kRST5: case kRST6: case kRST7:
            case kDQT:
                break;
            case kDHT:
                ParseHuffmanTables(state);
                break;
            case kDRI:
                ParseRestartInterval(state);
                break;
            // DAC, DNL, DHP, EXP, COM, and every code without a case of its
            // own: the reserved 02-BF, APP0-APP15 and JPG0-JPG13.
            case kDAC: case kDNL: case kDHP: case kEXP: case kCOM:
            default:
                SkipSegment(state);
                break;
        }
    }
}

void SkipSegment(JpegWalkState& state) {
    // The length counts its own two bytes; 0, 1 and 2 leave nothing to skip.
    const uint16_t length = NextWord(state);
    for (uint16_t i = 2; i < length; ++i) NextByte(state);
}

void ParseHuffmanTables(JpegWalkState& state) {
    // Bytes of the segment left after its length; T.81 makes the tables use
    // them up exactly. A table that runs past them rejects the candidate,
    // which also ends the loop for declared lengths of 0 and 1.
    int32_t remaining = NextWord(state) - 2;
    if (remaining == 0) return;
    for (;;) {
        const uint8_t class_and_destination = NextByte(state);
        int32_t symbols = 0;
        for (int i = 0; i < kHuffmanCodeCounts; ++i) symbols += NextByte(state);
        if (symbols > kMaxHuffmanSymbols) Fail(state);
        for (int32_t i = 0; i < symbols; ++i) NextByte(state);
        remaining -= 1 + kHuffmanCodeCounts + symbols;
        // Th must name one of four tables; Tc is not tested.
        if ((class_and_destination & 0x0F) >= kHuffmanDestinations) Fail(state);
        if (remaining == 0) return;
        if (remaining < 0) Fail(state);
    }
}

void ParseRestartInterval(JpegWalkState& state) {
    if (NextWord(state) != kRestartIntervalLength) Fail(state);
    state.restart_interval = NextWord(state);
}

void ParseFrameHeader(JpegWalkState& state) {
    // The component specifications behind these eight bytes are not read:
    // the next marker search passes over them.
    const uint16_t length = NextWord(state);
    state.precision = NextByte(state);
    state.lines = NextWord(state);
    state.samples_per_line = NextWord(state);
    state.frame_components = NextByte(state);
    if (state.lines == 0 || state.samples_per_line == 0 || state.frame_components == 0) Fail(state);
    if (state.precision < kMinPrecision || state.precision > kMaxPrecision) Fail(state);
    if (length != 3 * state.frame_components + 8) Fail(state);
}

bool ParseScanHeader(JpegWalkState& state) {
    if (NextMarker(state) != kSOS) return false;
    const uint16_t length = NextWord(state);
    state.scan_components = NextByte(state);
    if (length != 2 * state.scan_components + 6 || state.scan_components == 0 ||
        state.scan_components > kMaxScanComponents) {
        Fail(state);
    }
    // Component selector Cs and table selectors Td/Ta: not tested.
    for (int i = 0; i < state.scan_components; ++i) NextWord(state);
    state.spectral_start = NextByte(state);
    NextByte(state);  // Se
    state.approx_low = NextByte(state) & 0x0F;  // Al; Ah is not kept
    return true;
}

void SkipEntropyCodedData(JpegWalkState& state) {
    // Only EOI may end the data: restart markers, fill bytes and the markers
    // of a further scan reject the candidate.
    for (;;) {
        if (NextByte(state) != kMarkerPrefix) continue;
        const uint8_t code = NextByte(state);
        if (code == kStuffedZero) continue;
        if (code == kEOI) return;
        Fail(state);
    }
}
