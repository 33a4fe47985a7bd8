// Marker walk: checks a JPEG stream from SOI to EOI; decodes nothing.
// Every function reads through NextByte and rejects through Fail.
#pragma once
#include <cstdint>

#include "contract/jpeg_markers.h"
#include "photohound/frame.h"

// Reads the two bytes at the cursor, both before testing either; true when
// they are the SOI marker. Never fails, so it may run before the error exit
// is armed.
bool ReadStartOfImage(JpegWalkState& state);

// The walk behind the SOI marker: at most one frame header, at most one scan,
// up to EOI. Returns when the candidate is accepted, with cursor just past
// the last byte of the image.
void WalkJpeg(JpegWalkState& state);

// Searches for the next marker, handles table and miscellaneous segments on
// the way, and returns the first code the walk handles itself: SOFn, JPG,
// SOI, EOI or SOS. Cursor then stands just past that code byte.
uint8_t NextMarker(JpegWalkState& state);

// Reads a segment's length and discards the rest of the segment unlooked at.
void SkipSegment(JpegWalkState& state);

// DHT: checks each table's code counts and destination.
void ParseHuffmanTables(JpegWalkState& state);

// DRI: the length must be 4; keeps Ri.
void ParseRestartInterval(JpegWalkState& state);

// After SOF0, SOF1 or SOF3: checks the eight leading bytes of the frame header.
void ParseFrameHeader(JpegWalkState& state);

// False when the next marker is not SOS; otherwise checks the scan header
// and leaves cursor on the first byte of the entropy-coded data.
bool ParseScanHeader(JpegWalkState& state);

// Entropy-coded data of the one scan: passes stuffed zeros, ends after EOI,
// rejects any other marker.
void SkipEntropyCodedData(JpegWalkState& state);
