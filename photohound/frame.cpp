// Detect and the error exit: the only setjmp and the only longjmp of the walk.
#include "photohound/frame.h"

#include <algorithm>
#include <csetjmp>

#include "photohound/walk.h"

const char kJpegExtension[] = "jpg";
const char kJpegDescription[] = "JPG image";

void Fail(JpegWalkState& state) { std::longjmp(state.error_exit, 1); }

namespace {

// The JPEG parameters start at zero; setjmp fills the jump buffer itself.
void ClearParameters(JpegWalkState& state) {
    state.samples_per_line = 0;
    state.lines = 0;
    state.precision = 0;
    state.frame_components = 0;
    state.scan_components = 0;
    state.spectral_start = 0;
    state.approx_low = 0;
    state.restart_interval = 0;
}

}  // namespace

uint32_t Detect(const HostReader* reader, uint64_t position, FoundItem* item,
                uint64_t max_walk_bytes) {
    // Most positions fail at the SOI gate: they cost their two reads and
    // nothing else, so the state is cleared and the exit armed only behind it.
    JpegWalkState state;
    state.reader = reader;
    state.cursor = position;
    // The two SOI bytes are read before the error exit is armed, so the
    // bound never cuts them. The end position wraps with the cursor.
    state.walk_end = position + std::max<uint64_t>(max_walk_bytes, 2);
    if (!ReadStartOfImage(state)) return 0;
    ClearParameters(state);
    if (setjmp(state.error_exit) != 0) return 0;
    WalkJpeg(state);
    item->offset = position;
    item->size = state.cursor - position;
    item->extension = kJpegExtension;
    item->description = kJpegDescription;
    return 1;
}
