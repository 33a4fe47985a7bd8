// Signature classes: a header pattern with a size field (SizedSignature) and
// a start pattern with an end pattern (BoundedSignature).
#pragma once
#include <cstdint>

#include "contract/kx_plugin.h"
#include "markhound/signatures/pattern_byte.h"
#include "markhound/support/arrays.h"

// A text of at most 260 characters held in place, with its length.
struct SignatureText {
    static constexpr uint32_t kMaxLength = 260;
    char text[kMaxLength + 1] = {};
    uint32_t length = 0;

    void Set(const char* src);  // cut to kMaxLength characters
};

// True when every exact element of pattern equals the byte at position + its
// index. Reads one byte per exact element up to the first mismatch; a
// wildcard reads nothing but still takes its position. Inline: Detect runs
// it for every signature at every position the host tries.
inline bool PatternMatchesAt(const PatternArray& pattern, const HostReader* reader,
                             uint64_t position) {
    const PatternByte* element = static_cast<const PatternByte*>(pattern.Items());
    const PatternByte* const end = element + pattern.Count();
    for (; element != end; ++element, ++position) {
        if (element->exact == 0) continue;
        const uint32_t byte = reader->ReadByte(reader->context, position);
        if (static_cast<uint8_t>(byte) != element->value) return false;
    }
    return true;
}

class SizedSignature : public HeapObject {
public:
    SizedSignature() = default;
    SizedSignature(const SizedSignature&) = delete;
    SizedSignature& operator=(const SizedSignature&) = delete;

    // Fills all of item and answers true when an item starts at position;
    // answers false without writing to item otherwise.
    virtual bool Match(const HostReader* reader, uint64_t position, FoundItem* item);
    // The part of this class's Match behind a passed pattern test: reads the
    // size field and fills item. Match is the pattern test and then this;
    // DetectWithList runs the two itself to save a call per signature.
    void Report(const HostReader* reader, uint64_t position, FoundItem* item) const;
    // Destruction goes through the object's own class, so that a
    // BoundedSignature also releases its end pattern.
    virtual ~SizedSignature() = default;

    PatternArray pattern;
    uint64_t size_offset = 0;
    uint64_t size_width = 0;  // 1, 2 or 4; a BoundedSignature keeps limit_size here
    uint64_t size_addon = 0;
    SignatureText name;
    SignatureText ext;
};

class BoundedSignature : public SizedSignature {
public:
    bool Match(const HostReader* reader, uint64_t position, FoundItem* item) override;
    // The part of this class's Match behind a passed start test: searches
    // for the end pattern and fills item.
    void Report(const HostReader* reader, uint64_t position, FoundItem* item) const;

    // Search bound for the end pattern: a position counted from the start of
    // the data, 0 for none. Shares its storage with size_width.
    uint64_t& limit_size() { return size_width; }
    uint64_t limit_size() const { return size_width; }

    PatternArray end_pattern;  // empty: the start pattern also ends the item
    uint32_t start_offset = 0;
    uint32_t end_offset = 0;
};
