// Marker walk: checks a JPEG stream from SOI to EOI; decodes nothing.
// Every function reads through NextByte and rejects through Fail.
#pragma once
#include <cstdint>

#include "frame.h"

// Marker codes: the byte after FF.
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStuffedZero = 0x00;  // FF 00: a data byte FF, no marker
constexpr uint8_t kTEM = 0x01;
constexpr uint8_t kSOF0 = 0xC0;  // baseline
constexpr uint8_t kSOF1 = 0xC1;  // extended sequential
constexpr uint8_t kSOF2 = 0xC2;  // progressive
constexpr uint8_t kSOF3 = 0xC3;  // lossless
constexpr uint8_t kDHT = 0xC4;
constexpr uint8_t kSOF5 = 0xC5;
constexpr uint8_t kSOF6 = 0xC6;
constexpr uint8_t kSOF7 = 0xC7;
constexpr uint8_t kJPG = 0xC8;
constexpr uint8_t kSOF9 = 0xC9;
constexpr uint8_t kSOF10 = 0xCA;
constexpr uint8_t kSOF11 = 0xCB;
constexpr uint8_t kDAC = 0xCC;
constexpr uint8_t kSOF13 = 0xCD;
constexpr uint8_t kSOF14 = 0xCE;
constexpr uint8_t kSOF15 = 0xCF;
constexpr uint8_t kRST0 = 0xD0;
constexpr uint8_t kRST1 = 0xD1;
constexpr uint8_t kRST2 = 0xD2;
constexpr uint8_t kRST3 = 0xD3;
constexpr uint8_t kRST4 = 0xD4;
constexpr uint8_t kRST5 = 0xD5;
constexpr uint8_t kRST6 = 0xD6;
constexpr uint8_t kRST7 = 0xD7;
constexpr uint8_t kSOI = 0xD8;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kSOS = 0xDA;
constexpr uint8_t kDQT = 0xDB;
constexpr uint8_t kDNL = 0xDC;
constexpr uint8_t kDRI = 0xDD;
constexpr uint8_t kDHP = 0xDE;
constexpr uint8_t kEXP = 0xDF;
constexpr uint8_t kAPP0 = 0xE0;
constexpr uint8_t kAPP15 = 0xEF;
constexpr uint8_t kJPG0 = 0xF0;
constexpr uint8_t kJPG13 = 0xFD;
constexpr uint8_t kCOM = 0xFE;

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
