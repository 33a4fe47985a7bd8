// SignatureList hooks, the plug-in-wide list and the Detect dispatch.
#include "markhound/signatures/signature_list.h"

#include <typeinfo>

SignatureList g_signatures;

void SignatureList::OnAdd(void*) {}

void SignatureList::DisposeItem(void* item, int32_t owns) {
    if (owns != 0 && item != nullptr) delete static_cast<SizedSignature*>(item);
}

uint32_t DetectWithList(const SignatureList& list, const HostReader* reader, uint64_t position,
                        FoundItem* item) {
    // Nothing changes the list during Detect, so its slots are read once.
    void* const* slot = static_cast<void* const*>(list.Items());
    void* const* const end = slot + list.Count();
    for (; slot != end; ++slot) {
        SizedSignature* signature = static_cast<SizedSignature*>(*slot);
        if (signature == nullptr) continue;
        // The two classes of the loader are matched here, with the pattern
        // test inline: the same reads as their Match, without two calls per
        // signature at every position. The test is by the address of the
        // type's own type_info, which no other type shares, so a subclass
        // with a Match of its own always gets its own Match.
        const std::type_info* type = &typeid(*signature);
        if (type == &typeid(SizedSignature)) {
            if (!PatternMatchesAt(signature->pattern, reader, position)) continue;
            signature->SizedSignature::Report(reader, position, item);
            return 1;
        }
        if (type == &typeid(BoundedSignature)) {
            if (!PatternMatchesAt(signature->pattern, reader, position)) continue;
            static_cast<const BoundedSignature*>(signature)->Report(reader, position, item);
            return 1;
        }
        if (signature->Match(reader, position, item)) return 1;
    }
    return 0;
}
