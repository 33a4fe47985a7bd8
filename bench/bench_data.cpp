// Mixed benchmark data and a memory reader.
#include "bench/bench_data.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

std::vector<uint8_t> MixedData(std::size_t size, uint32_t seed) {
    static const char kText[] =
        "The quick brown fox jumps over the lazy dog. Lorem ipsum dolor sit amet, 0123456789\n";
    std::vector<uint8_t> data(size);
    std::mt19937 random(seed);
    std::size_t i = 0;
    for (int run = 0; i < size; ++run) {
        std::size_t length = std::min<std::size_t>(size - i, 4096 + random() % 8192);
        for (std::size_t k = 0; k < length; ++k, ++i) {
            switch (run % 3) {
                case 0: data[i] = static_cast<uint8_t>(random()); break;
                case 1: data[i] = static_cast<uint8_t>(kText[k % (sizeof kText - 1)]); break;
                default: data[i] = 0; break;
            }
        }
    }
    return data;
}

MemoryReader::MemoryReader(const std::vector<uint8_t>& data) : data_(data) {
    reader_.context = this;
    reader_.ReadByte = &ReadByte;
    reader_.ReadBlock = &ReadBlock;
    reader_.GetSize = &GetSize;
}

uint32_t KX_CALL MemoryReader::ReadByte(void* context, uint64_t position) {
    const auto& data = static_cast<MemoryReader*>(context)->data_;
    if (position < data.size()) return data[position];
    return (position - data.size()) % 2 == 0 ? 0xFF : 0xC4;
}

uint32_t KX_CALL MemoryReader::ReadBlock(void* context, void* buffer, uint64_t position,
                                         uint64_t count) {
    const auto& data = static_cast<MemoryReader*>(context)->data_;
    auto* out = static_cast<uint8_t*>(buffer);
    const uint64_t inside = position < data.size() ? std::min<uint64_t>(count, data.size() - position) : 0;
    if (inside > 0) std::memcpy(out, data.data() + position, inside);
    std::memset(out + inside, 0, count - inside);
    return 1;
}

uint64_t KX_CALL MemoryReader::GetSize(void* context) {
    return static_cast<MemoryReader*>(context)->data_.size();
}

std::vector<uint8_t> DataWithoutSoi(std::size_t size) {
    std::vector<uint8_t> data = MixedData(size, 7);
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0xFF && data[i + 1] == 0xD8) data[i + 1] = 0xD7;
    }
    return data;
}

namespace fs = std::filesystem;

std::vector<uint8_t> LargeJpeg(const std::string& options) {
    std::string folder = (fs::temp_directory_path() / "hound-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return {};
    const std::string in = folder + "/big.ppm", out = folder + "/big.jpg";
    const int width = 3000, height = 2000;
    {
        std::ofstream ppm(in, std::ios::binary);
        ppm << "P6\n" << width << " " << height << "\n255\n";
        uint32_t noise = 1;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < 3 * width; ++x) {
                noise = noise * 1103515245u + 12345u;
                ppm.put(static_cast<char>(x / 7 + y / 5 + (noise >> 27)));
            }
        }
    }
    std::vector<uint8_t> image;
    if (std::system(("cjpeg " + options + " -outfile " + out + " " + in).c_str()) == 0) {
        std::ifstream jpeg(out, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(jpeg), std::istreambuf_iterator<char>());
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return image;
}
