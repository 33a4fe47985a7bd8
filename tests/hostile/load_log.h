// Loads a signature file tree with an observer that keeps every event, for
// tests that count what a load did.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "markhound/database/load_observer.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"

class LoadLog : public LoadObserver {
public:
    void OnLoadEvent(const LoadReport& report) override {
        events.push_back(report.event);
        if (report.event == LoadEvent::kFileRead) files.push_back(report.file);
    }
    size_t Count(LoadEvent event) const {
        size_t n = 0;
        for (LoadEvent e : events) n += e == event;
        return n;
    }
    std::vector<LoadEvent> events;
    std::vector<std::string> files;  // every file read, in order
};

// The section names of the signatures in list order.
inline std::vector<std::string> Names(const SignatureList& list) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.Signature(i)->name.text);
    return names;
}

// What every finished load guarantees for each signature in its list.
inline bool AllComplete(const SignatureList& list) {
    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* s = list.Signature(i);
        if (s->pattern.Count() < 1 || s->name.length > SignatureText::kMaxLength) return false;
        if (dynamic_cast<const BoundedSignature*>(s) == nullptr && s->size_width != 1 &&
            s->size_width != 2 && s->size_width != 4) {
            return false;
        }
    }
    return true;
}
