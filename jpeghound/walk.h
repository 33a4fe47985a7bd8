// Syntax walk: reads a JPEG stream by the marker syntax of T.81 Annex B,
// strictly, from SOI to EOI; decodes nothing. Every function reads through
// the frame's primitives and rejects through Fail.
#pragma once
#include <cstdint>

#include "jpeghound/frame.h"

namespace jpeghound {

// The walk behind FF D8 FF (cursor stands on the code byte of the first
// marker): tables and miscellaneous segments, one frame, its scans with
// their entropy-coded data, up to EOI. Returns when the stream is accepted,
// with cursor just past the D9 of EOI.
void WalkJpeg(JpegState& state);

// The code of the marker at cursor: FF, any fill bytes FF, then a code that
// is not 00. Cursor then stands past the code byte.
uint8_t NextMarker(JpegState& state);

// The code byte after one FF already taken, past any fill bytes.
uint8_t MarkerCode(JpegState& state);

// Segment operations, entered with cursor on the length field and leaving it
// past the segment.
void SkipSegment(JpegState& state);            // APPn, COM: by their length
void ParseQuantizationTables(JpegState& state);  // DQT
void ParseHuffmanTables(JpegState& state);     // DHT
void ParseConditioning(JpegState& state);      // DAC
void ParseRestartInterval(JpegState& state);   // DRI
void ParseNumberOfLines(JpegState& state);     // DNL, right after the first scan
void ParseFrameHeader(JpegState& state, uint8_t marker);  // SOF0-3, SOF9-11
void ParseScanHeader(JpegState& state);        // SOS

// Entropy-coded data behind a scan header: stuffed zeros and, where an
// interval is set, RST0-RST7 in their cyclic order. Returns the code of the
// first other marker, with cursor past it.
uint8_t ScanEntropyCodedData(JpegState& state);

}  // namespace jpeghound
