// Detect and the error exit: the only setjmp and the only longjmp of the walk.
#include "jpeghound/frame.h"

#include <algorithm>
#include <csetjmp>

#include "jpeghound/walk.h"

namespace jpeghound {

const char kJpegExtension[] = "jpg";
const char kJpegDescription[] = "JPG image";

void Fail(JpegState& state, JpegReject reason) {
    state.reason = reason;
    std::longjmp(state.error_exit, 1);
}

void FailAtLimit(JpegState& state) {
    Fail(state, state.limit_is_data_end ? JpegReject::kPastDataEnd : JpegReject::kWalkBound);
}

void Fill(JpegState& state, uint32_t count) {
    if (state.cursor >= state.limit) FailAtLimit(state);
    const uint64_t available = state.limit - state.cursor;
    const uint32_t size = static_cast<uint32_t>(
        std::min<uint64_t>({count, kBufferBytes, available}));
    state.reader->ReadBlock(state.reader->context, state.buffer, state.cursor, size);
    state.buffer_start = state.cursor;
    state.buffer_size = size;
}

namespace {

// The three bytes FF D8 FF, one ReadByte each, the first mismatch ending the
// test: most positions cost one call. Runs before the error exit is armed.
bool StartsWithSoi(const HostReader* reader, uint64_t position) {
    static constexpr uint8_t kSoiAndMarker[] = {0xFF, 0xD8, 0xFF};
    for (uint64_t i = 0; i < 3; ++i) {
        if (static_cast<uint8_t>(reader->ReadByte(reader->context, position + i)) !=
            kSoiAndMarker[i]) {
            return false;
        }
    }
    return true;
}

// The walk state with its limits; the buffer stays uninitialised (it is
// only read where Fill has written it).
void Prepare(JpegState& state, const HostReader* reader, uint64_t position,
             uint64_t max_walk_bytes) {
    state.reader = reader;
    state.cursor = position + 3;
    state.reason = JpegReject::kAccepted;
    state.buffer_start = 0;
    state.buffer_size = 0;
    state.quant_tables = state.dc_tables = state.ac_tables = 0;
    state.restart_interval = 0;
    state.frame_marker = 0;
    state.precision = 0;
    state.lines = state.samples_per_line = state.component_count = 0;
    state.scans = 0;
    // The walk bound counts from position and wraps with it at 2^64.
    const uint64_t bound = std::max<uint64_t>(max_walk_bytes, 3);
    const uint64_t walk_end = position > UINT64_MAX - bound ? UINT64_MAX : position + bound;
    const uint64_t data_end = reader->GetSize(reader->context);
    state.limit_is_data_end = data_end <= walk_end;
    state.limit = std::min(data_end, walk_end);
    // A gate at the top of the 64-bit range: the cursor wrapped, nothing follows.
    if (state.cursor < position) state.limit = 0;
}

}  // namespace

uint32_t Detect(const HostReader* reader, uint64_t position, FoundItem* item,
                uint64_t max_walk_bytes, JpegReject* reason) {
    if (!StartsWithSoi(reader, position)) {
        if (reason != nullptr) *reason = JpegReject::kNoStartOfImage;
        return 0;
    }
    JpegState state;
    Prepare(state, reader, position, max_walk_bytes);
    if (setjmp(state.error_exit) != 0) {
        if (reason != nullptr) *reason = state.reason;
        return 0;
    }
    WalkJpeg(state);
    if (reason != nullptr) *reason = JpegReject::kAccepted;
    item->offset = position;
    item->size = state.cursor - position;
    item->extension = kJpegExtension;
    item->description = kJpegDescription;
    return 1;
}

}  // namespace jpeghound
