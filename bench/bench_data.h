// Data and a memory reader shared by the benchmarks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "contract/kx_plugin.h"

// Deterministic mixed data: random bytes, ASCII text and zero runs in turn.
std::vector<uint8_t> MixedData(std::size_t size, uint32_t seed = 1);

// MixedData with every FF D8 pair broken up, so that no position starts a
// JPEG walk.
std::vector<uint8_t> DataWithoutSoi(std::size_t size);

// A noisy 3000 x 2000 picture through cjpeg with options (libjpeg-turbo-progs);
// empty when that fails.
std::vector<uint8_t> LargeJpeg(const std::string& options);

// A HostReader over a byte vector; past the end it answers FF C4 in turn and
// zero-fills blocks, as hound's reader does.
class MemoryReader {
public:
    explicit MemoryReader(const std::vector<uint8_t>& data);
    const HostReader* reader() const { return &reader_; }

private:
    static uint32_t KX_CALL ReadByte(void* context, uint64_t position);
    static uint32_t KX_CALL ReadBlock(void* context, void* buffer, uint64_t position, uint64_t count);
    static uint64_t KX_CALL GetSize(void* context);
    const std::vector<uint8_t>& data_;
    HostReader reader_;
};
