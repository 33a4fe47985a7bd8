// The host's byte source over mapped data.
#include "host/base/reader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace {

uint32_t KX_CALL ReadByte(void* context, uint64_t position) {
    const auto* data = static_cast<const MappedData*>(context);
    if (position < data->size) return data->bytes[position];
    return PastEndByte(data->size, position);
}

uint32_t KX_CALL ReadBlock(void* context, void* buffer, uint64_t position, uint64_t count) {
    const auto* data = static_cast<const MappedData*>(context);
    const uint64_t available = position < data->size ? data->size - position : 0;
    const uint64_t copied = count < available ? count : available;
    auto* out = static_cast<uint8_t*>(buffer);
    if (copied > 0) std::memcpy(out, data->bytes + position, static_cast<size_t>(copied));
    if (count > copied) std::memset(out + copied, 0, static_cast<size_t>(count - copied));
    return 0;
}

uint64_t KX_CALL GetSize(void* context) { return static_cast<const MappedData*>(context)->size; }

}  // namespace

HostReader MakeReader(const MappedData* data) {
    HostReader reader;
    reader.context = const_cast<MappedData*>(data);
    reader.ReadByte = &ReadByte;
    reader.ReadBlock = &ReadBlock;
    reader.GetSize = &GetSize;
    return reader;
}

void DropMappedPages(const MappedData& data, uint64_t begin, uint64_t end) {
    if (data.file == nullptr) return;  // memory of any other kind would lose its bytes
    static const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    // Whole pages only: the mapping starts on a page, and its last page may
    // be dropped whole once the range reaches the end of the data.
    begin = (begin + page - 1) / page * page;
    end = end >= data.size ? data.size + page - 1 : end;
    end = end / page * page;
    if (begin >= end) return;
    madvise(const_cast<uint8_t*>(data.bytes) + begin, static_cast<size_t>(end - begin), MADV_DONTNEED);
}
