// Shared pieces of the signature classes: the stored texts and the pattern test.
#include "signatures/signature.h"

void SignatureText::Set(const char* src) {
    length = 0;
    if (src != nullptr) {
        while (length < kMaxLength && src[length] != '\0') {
            text[length] = src[length];
            ++length;
        }
    }
    text[length] = '\0';
}

bool PatternMatchesAt(const PatternArray& pattern, const HostReader* reader, uint64_t position) {
    const PatternByte* element = static_cast<const PatternByte*>(pattern.Items());
    const int32_t count = pattern.Count();
    for (int32_t i = 0; i < count; ++i) {
        if (element[i].exact == 0) continue;
        uint32_t byte = reader->ReadByte(reader->context, position + static_cast<uint32_t>(i));
        if (static_cast<uint8_t>(byte) != element[i].value) return false;
    }
    return true;
}
