// Bounded signature: a start pattern, then a forward search for the nearest
// end pattern; an item without an end runs to the end of the data.
#include "markhound/signatures/signature.h"

bool BoundedSignature::Match(const HostReader* reader, uint64_t position, FoundItem* item) {
    if (!PatternMatchesAt(pattern, reader, position)) return false;
    Report(reader, position, item);
    return true;
}

void BoundedSignature::Report(const HostReader* reader, uint64_t position, FoundItem* item) const {
    const uint64_t start = position + static_cast<uint32_t>(pattern.Count());
    const PatternArray& end = end_pattern.Count() > 0 ? end_pattern : pattern;
    const uint64_t end_length = static_cast<uint32_t>(end.Count());
    const uint64_t length = reader->GetSize(reader->context);

    item->offset = position + start_offset;
    item->extension = ext.text;
    item->description = name.text;

    // Data shorter than the end pattern leaves no candidate at all. The search
    // begins one byte behind the start pattern, so an end pattern overlapping
    // it is never taken; candidates stop below the bound, so the last byte
    // of the data is never read here.
    if (length >= end_length) {
        uint64_t bound = length - end_length;
        if (limit_size() != 0 && limit_size() < bound) bound = limit_size();
        for (uint64_t candidate = start; candidate < bound; ++candidate) {
            if (PatternMatchesAt(end, reader, candidate)) {
                item->size = candidate - position + end_offset;
                return;
            }
        }
    }
    const uint64_t to_end = length - position + end_offset;  // wraps modulo 2^64
    item->size = to_end < length ? to_end : length;
}
