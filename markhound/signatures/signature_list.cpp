// SignatureList hooks, the plug-in-wide list and the Detect dispatch.
#include "signatures/signature_list.h"

SignatureList g_signatures;

void SignatureList::OnAdd(void*) {}

void SignatureList::DisposeItem(void* item, int32_t owns) {
    if (owns != 0 && item != nullptr) delete static_cast<SizedSignature*>(item);
}

uint32_t DetectWithList(const SignatureList& list, const HostReader* reader, uint64_t position,
                        FoundItem* item) {
    for (int32_t i = 0; i < list.Count(); ++i) {
        if (list.Signature(i)->Match(reader, position, item)) return 1;
    }
    return 0;
}
