#include "host/check/walk_end.h"

#include "host/base/reader.h"
#include "formathound/detect.h"

uint64_t WalkEnd(CheckBytes bytes) {
    const MappedData data{bytes.data, bytes.size};
    const HostReader reader = MakeReader(&data);
    FoundItem item{};
    if (formathound::Detect(&reader, 0, &item) != 1 || item.offset != 0) return 0;
    return item.size;
}
