// The plug-in's one ordered list of signatures, and the Detect dispatch over it.
#pragma once
#include <cstdint>

#include "contract/kx_plugin.h"
#include "markhound/signatures/signature.h"
#include "markhound/support/arrays.h"

class SignatureList : public PtrArray {
public:
    static constexpr uint32_t kInitial = 10;
    static constexpr uint32_t kGrowBy = 50;

    SignatureList() : PtrArray(kInitial, kGrowBy, 1) {}
    // Runs DeleteAll while this list's own DisposeItem is still in force.
    ~SignatureList() override { DeleteAll(); }

    // The signature at index, without a bounds test: index < Count().
    SizedSignature* Signature(int32_t index) const {
        return static_cast<SizedSignature*>(PtrAt(index));
    }

protected:
    void OnAdd(void* item) override;
    void DisposeItem(void* item, int32_t owns) override;
};

// The list that markhound's slots work on; built at load, destroyed at unload.
extern SignatureList g_signatures;

// Asks each signature in list order; the first that matches fills item and
// the answer is 1. 0 when none matches; item is then untouched.
uint32_t DetectWithList(const SignatureList& list, const HostReader* reader, uint64_t position,
                        FoundItem* item);
