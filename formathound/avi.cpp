// RIFF AVI files: a RIFF chunk of form type "AVI " (little-endian sizes,
// chunks padded to even) holding a LIST hdrl that begins with avih and a
// LIST movi behind it; then, in files over 1 GiB, the RIFF chunks of form
// type "AVIX" that directly follow, each with a LIST movi of its own. The
// item ends behind the last RIFF that walks cleanly; a first RIFF cut short
// gives no item.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

// avih: frame time, rates, flags, frame and stream counts, sizes.
constexpr uint32_t kMainHeaderBytes = 56;


struct Chunk {
    uint8_t id[4];
    uint8_t type[4];  // a LIST's list type; zeros for other chunks
    uint64_t data;    // offset of the data, behind the size
    uint32_t size;    // bytes of data, without the pad
    uint64_t next;    // offset of the next chunk, behind the pad
};

// The chunk at offset at of a RIFF or LIST body whose data ends at end.
// Its data must fit before end; its pad may lie at end, where the parent's
// own pad stands (every chunk starts at an even offset, so the parent's size
// is then odd). The ID is four printable characters; a LIST holds its type.
bool ReadChunk(Source& source, uint64_t at, uint64_t end, Chunk* chunk) {
    if (end - at < 8) return false;
    const uint8_t* head = source.Peek(at, end - at >= 12 ? 12 : 8);
    if (head == nullptr) return false;
    for (int i = 0; i < 4; ++i) {
        if (head[i] < 0x20 || head[i] > 0x7E) return false;
    }
    std::memcpy(chunk->id, head, 4);
    std::memset(chunk->type, 0, 4);
    chunk->data = at + 8;
    chunk->size = Le32(head + 4);
    if (chunk->size > end - chunk->data) return false;
    if (Is(head, "LIST")) {
        if (chunk->size < 4) return false;
        std::memcpy(chunk->type, head + 8, 4);
    }
    chunk->next = chunk->data + chunk->size + (chunk->size & 1);
    return true;
}

// A LIST strl or odml of the header: its chunks fill it.
bool ListFills(Source& source, const Chunk& list) {
    const uint64_t end = list.data + list.size;
    Chunk chunk;
    for (uint64_t at = list.data + 4; at < end; at = chunk.next) {
        if (!source.Step() || !ReadChunk(source, at, end, &chunk)) return false;
    }
    return true;
}

// The LIST hdrl: avih first, then at least one stream's LIST strl.
bool HeaderHolds(Source& source, const Chunk& hdrl) {
    const uint64_t end = hdrl.data + hdrl.size;
    uint32_t streams = 0;
    Chunk chunk;
    for (uint64_t at = hdrl.data + 4; at < end; at = chunk.next) {
        if (!source.Step() || !ReadChunk(source, at, end, &chunk)) return false;
        if (at == hdrl.data + 4 && (!Is(chunk.id, "avih") || chunk.size < kMainHeaderBytes)) return false;
        if (Is(chunk.id, "LIST")) {
            if (!ListFills(source, chunk)) return false;
            streams += Is(chunk.type, "strl") ? 1 : 0;
        }
    }
    return streams > 0;
}

// The RIFF of that form type at offset at: its chunks fill it, with a LIST
// movi (after the header in "AVI "). The movi's own chunks, one or more per
// frame, are not walked: they say nothing of the end that the movi's size
// does not, and would cost a read each. Sets end behind the RIFF's pad.
bool RiffHolds(Source& source, uint64_t at, const char* form, uint64_t* end) {
    const uint8_t* head = source.size() - at >= 12 ? source.Peek(at, 12) : nullptr;
    if (head == nullptr || !Is(head, "RIFF") || !Is(head + 8, form)) return false;
    const uint32_t size = Le32(head + 4);
    if (size < 4 || uint64_t{size} + (size & 1) > source.size() - at - 8) return false;  // cut short
    const bool first = std::strcmp(form, "AVI ") == 0;
    const uint64_t body_end = at + 8 + size;
    bool header = false, movie = false;
    Chunk chunk;
    for (uint64_t child = at + 12; child < body_end; child = chunk.next) {
        if (!source.Step() || !ReadChunk(source, child, body_end, &chunk)) return false;
        if (!Is(chunk.id, "LIST")) continue;
        if (Is(chunk.type, "hdrl") && first) {
            if (header || !HeaderHolds(source, chunk)) return false;
            header = true;
        } else if (Is(chunk.type, "movi")) {
            if (first && !header) return false;
            movie = true;
        }
    }
    if (!movie || (first && !header)) return false;
    *end = body_end + (size & 1);
    return true;
}

}  // namespace

bool WalkAvi(Source& source, Found* found) {
    uint64_t end = 0;
    if (!RiffHolds(source, 0, "AVI ", &end)) return false;
    // OpenDML continuations: each whole one extends the item; the first
    // that is cut short or broken ends it before itself.
    for (uint64_t next = 0; end < source.size() && RiffHolds(source, end, "AVIX", &next);) end = next;
    *found = {end, "avi", "AVI video"};
    return true;
}

}  // namespace formathound
