// The frame around the JPEG walk: the per-call walk state, the two reading
// primitives, the single error exit and Detect, which owns all three.
#pragma once
#include <csetjmp>
#include <cstdint>
#include <type_traits>

#include "contract/kx_plugin.h"

// The texts a found item points at; constants, valid while the plug-in is loaded.
extern const char kJpegExtension[];    // "jpg"
extern const char kJpegDescription[];  // "JPG image"

// The most bytes one walk may read from its candidate position. A reader that
// answers some byte for every position (zeros past its data, say) would
// otherwise keep a walk searching for a marker forever; a walk that needs a
// byte beyond this many rejects its candidate.
constexpr uint64_t kMaxWalkBytes = uint64_t{4} << 30;
static_assert(kMaxWalkBytes >= (uint64_t{1} << 30), "the bound must not cut ordinary images");

// State of one Detect call; lives in Detect's frame and is plain data, so
// the error exit may jump over every frame that uses it.
struct JpegWalkState {
    int32_t samples_per_line;   // X of the frame header
    int32_t lines;              // Y of the frame header
    int32_t precision;          // P of the frame header
    int16_t frame_components;   // Nf
    int16_t scan_components;    // Ns
    int32_t spectral_start;     // Ss of the scan header
    int32_t approx_low;         // Al of the scan header
    int32_t restart_interval;   // Ri of the latest DRI segment
    const HostReader* reader;   // the host's reader; not owned
    uint64_t cursor;            // position of the next byte to read
    std::jmp_buf error_exit;    // where Fail returns to
    uint64_t walk_end;          // the cursor at which reading must stop
};
static_assert(std::is_trivially_destructible_v<JpegWalkState>,
              "the error exit jumps over the state without destroying it");

// Takes the error exit: Detect answers 0. Never returns.
[[noreturn]] void Fail(JpegWalkState& state);

// The byte at cursor; cursor grows by one before the read (64-bit, carrying
// into the high half). Every byte the walk reads comes through here, one
// reader call each. Past walk_end the walk fails instead.
inline uint8_t NextByte(JpegWalkState& state) {
    const uint64_t position = state.cursor;
    if (position == state.walk_end) Fail(state);
    state.cursor = position + 1;
    return static_cast<uint8_t>(state.reader->ReadByte(state.reader->context, position));
}

// Two bytes, big-endian: the byte order of every JPEG length and dimension.
inline uint16_t NextWord(JpegWalkState& state) {
    const uint16_t high = NextByte(state);
    return static_cast<uint16_t>(high << 8 | NextByte(state));
}

// 1 when a JPEG image starts exactly at position: item then holds the span
// from position through the last byte the walk read. 0 otherwise, with item
// untouched. max_walk_bytes bounds the bytes read (at least the two of SOI
// are always read); tests pass a small one to reach the bound cheaply.
uint32_t Detect(const HostReader* reader, uint64_t position, FoundItem* item,
                uint64_t max_walk_bytes = kMaxWalkBytes);
