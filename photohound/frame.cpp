// Detect and the error exit: the only setjmp and the only longjmp of the walk.
#include "frame.h"

#include <algorithm>
#include <csetjmp>

#include "walk.h"

const char kJpegExtension[] = "jpg";
const char kJpegDescription[] = "JPG image";

void Fail(JpegWalkState& state) { std::longjmp(state.error_exit, 1); }

uint32_t Detect(const HostReader* reader, uint64_t position, FoundItem* item,
                uint64_t max_walk_bytes) {
    JpegWalkState state{};
    state.reader = reader;
    state.cursor = position;
    // The two SOI bytes are read before the error exit is armed, so the
    // bound never cuts them. The end position wraps with the cursor.
    state.walk_end = position + std::max<uint64_t>(max_walk_bytes, 2);
    // Most positions fail here: they cost their two reads and no setjmp.
    if (!ReadStartOfImage(state)) return 0;
    if (setjmp(state.error_exit) != 0) return 0;
    WalkJpeg(state);
    item->offset = position;
    item->size = state.cursor - position;
    item->extension = kJpegExtension;
    item->description = kJpegDescription;
    return 1;
}
