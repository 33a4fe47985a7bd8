// The host's byte source over mapped data: the HostReader given to Detect.
//
// Positions past the end of the data read as the repeating bytes FF C4,
// counted from the end: the first byte past the end is FF, the next C4, and
// so on (FF when position - size is even). FF C4 is a DHT marker with an
// impossible table, so a JPEG walk that runs off the data stops within a few
// bytes instead of reading on without bound. ReadBlock fills the bytes past
// the end with zeros, so that a size field there reads as 0.
#pragma once
#include <cstdint>

#include "contract/kx_plugin.h"

class MappedFile;

struct MappedData {
    const uint8_t* bytes;
    uint64_t size;
    // The mapped file behind bytes, asked whether it shrank (mapped_file.h);
    // null for data that cannot.
    const MappedFile* file = nullptr;
};

// A part of bytes that are read in parts (a fragmented file): size bytes of
// data, or size zeros where data is null.
struct Piece {
    const uint8_t* data;
    uint64_t size;
};

constexpr uint8_t kPastEndEven = 0xFF;
constexpr uint8_t kPastEndOdd = 0xC4;

// The byte ReadByte answers for a position at or beyond size.
inline uint8_t PastEndByte(uint64_t size, uint64_t position) {
    return ((position - size) & 1) == 0 ? kPastEndEven : kPastEndOdd;
}

// A reader whose context is data; data must outlive every Detect call.
HostReader MakeReader(const MappedData* data);

// Drops the whole pages of [begin, end) of a file mapping from the process's
// memory; the next read of them maps them again from the page cache. Does
// nothing for data that is not a file's mapping (data.file null), whose
// memory would lose its content.
void DropMappedPages(const MappedData& data, uint64_t begin, uint64_t end);
