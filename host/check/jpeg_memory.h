// What libjpeg holds to decode a picture whose header it has read: for a
// picture of several scans (progressive), 64 coefficients of 2 bytes for
// every block of every component, the whole picture at once; rows and
// tables otherwise, which kJpegRowMemory covers at any scale.
#pragma once
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "host/base/decoder_memory.h"

constexpr uint64_t kJpegRowMemory = uint64_t{4} << 20;

// After jpeg_read_header.
inline uint64_t JpegDecodeMemory(jpeg_decompress_struct* info) {
    uint64_t bytes = kJpegRowMemory;
    if (!jpeg_has_multiple_scans(info)) return bytes;
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info& component = info->comp_info[c];
        const uint64_t h = component.h_samp_factor > 0 ? static_cast<uint64_t>(component.h_samp_factor) : 1;
        const uint64_t v = component.v_samp_factor > 0 ? static_cast<uint64_t>(component.v_samp_factor) : 1;
        // libjpeg rounds each component's blocks up to whole MCUs.
        const uint64_t wide = (uint64_t{component.width_in_blocks} + h - 1) / h * h;
        const uint64_t high = (uint64_t{component.height_in_blocks} + v - 1) / v * v;
        bytes += wide * high * DCTSIZE2 * sizeof(JCOEF);
    }
    return bytes;
}

// Reserves in *memory what the picture needs (after jpeg_read_header) and
// holds libjpeg to it; false where it exceeds the decoders' whole budget.
inline bool ReserveJpegMemory(jpeg_decompress_struct* info, DecoderMemoryHold* memory) {
    const uint64_t needed = JpegDecodeMemory(info);
    if (!memory->Reserve(needed)) return false;
    info->mem->max_memory_to_use = static_cast<long>(needed);
    return true;
}
