// Fuzz target: the listing that the file-system reader's process hands
// back. Whatever bytes come, taking them back never reads out of bounds,
// and a listing taken back names only bytes inside the media: every run of
// every file lies in it, and the runs add up to the file's size.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/filesystem/file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t media_size = uint64_t{1} << 30;
    FileSystems fs;
    if (!fs.Restore(std::string(reinterpret_cast<const char*>(data), size), media_size)) return 0;
    for (const FsFile& file : fs.files()) {
        uint64_t total = file.held ? file.bytes.size() : 0;
        for (const FsRun& run : file.runs) {
            if (!run.sparse && (run.offset > media_size || run.length > media_size - run.offset)) std::abort();
            total += run.length;
        }
        if (total != file.size) std::abort();
    }
    return 0;
}
