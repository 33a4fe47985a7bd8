// The contract floor of an exhaustive scan: at every position of a file, one
// indirect ReadByte through hound's reader per signature (at the index of its
// first exact element, where its Match reads first) plus photohound's two
// reads, and nothing else. Runs on the given number of threads, each over
// its own share of the file, and prints the seconds taken and MB/s.
//
// Usage: scan_floor IMAGE SIGNS_INI THREADS
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "host/base/mapped_file.h"
#include "host/base/reader.h"
#include "markhound/database/loader.h"
#include "markhound/platform/posix_paths.h"
#include "markhound/signatures/signature_list.h"

namespace {

// Index of the first exact element of each signature that has one.
std::vector<uint32_t> FirstReads(const char* signs_path) {
    char native[4096];
    char windows[4096 + 2];
    std::vector<uint32_t> reads;
    if (realpath(signs_path, native) == nullptr ||
        !DriveFormFromNative(native, windows, sizeof windows)) {
        return reads;
    }
    SignatureList list;
    LoadSignatureFile(windows, list);
    for (int32_t i = 0; i < list.Count(); ++i) {
        const PatternArray& pattern = list.Signature(i)->pattern;
        for (int32_t k = 0; k < pattern.Count(); ++k) {
            if (static_cast<const PatternByte*>(pattern.At(k))->exact != 0) {
                reads.push_back(static_cast<uint32_t>(k));
                break;
            }
        }
    }
    return reads;
}

uint32_t ReadRange(const HostReader* reader, const std::vector<uint32_t>& reads, uint64_t begin,
                   uint64_t end) {
    uint32_t sum = 0;
    const uint32_t* first = reads.data();
    const size_t count = reads.size();
    for (uint64_t position = begin; position < end; ++position) {
        sum += reader->ReadByte(reader->context, position);
        sum += reader->ReadByte(reader->context, position + 1);
        for (size_t i = 0; i < count; ++i) sum += reader->ReadByte(reader->context, position + first[i]);
    }
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: scan_floor IMAGE SIGNS_INI THREADS\n");
        return 2;
    }
    MappedFile file;
    std::string error;
    if (!file.Open(argv[1], &error)) {
        std::fprintf(stderr, "scan_floor: %s\n", error.c_str());
        return 1;
    }
    const std::vector<uint32_t> reads = FirstReads(argv[2]);
    const unsigned threads = static_cast<unsigned>(std::max(1, std::atoi(argv[3])));
    const MappedData data = {file.data(), file.size()};
    const HostReader reader = MakeReader(&data);

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    std::vector<uint32_t> sums(threads);
    const uint64_t share = data.size / threads + 1;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const uint64_t begin = std::min<uint64_t>(data.size, t * share);
            const uint64_t end = std::min<uint64_t>(data.size, begin + share);
            sums[t] = ReadRange(&reader, reads, begin, end);
        });
    }
    for (std::thread& worker : workers) worker.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    uint32_t total = 0;
    for (uint32_t sum : sums) total += sum;
    std::printf("reads_per_position %zu seconds %.3f mb_per_s %.1f checksum %u\n", reads.size() + 2,
                seconds, static_cast<double>(data.size) / seconds / 1e6, total);
    return 0;
}
