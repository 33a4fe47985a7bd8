// Candidate filters of the plug-ins that hound knows, from their own rules.
#include "host/scan/filters.h"

#include "formathound/magics.h"
#include "markhound/database/loader.h"
#include "markhound/database/reload.h"
#include "markhound/signatures/signature_list.h"

namespace {

// A signature's gate tests its first four exact elements: every one more
// divides the false candidates in random data by 256.
constexpr uint32_t kSignatureGateTests = Gate::kMaxTests;

}  // namespace

bool Gate::operator==(const Gate& other) const {
    if (count != other.count) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (!(tests[i] == other.tests[i])) return false;
    }
    return true;
}

CandidateFilter JpegFilter() {
    CandidateFilter filter;
    filter.everywhere = false;
    filter.items_at_position = true;
    filter.gates.push_back({{{0, 0xFF}, {1, 0xD8}}, 2});
    return filter;
}

CandidateFilter StrictJpegFilter() {
    CandidateFilter filter;
    filter.everywhere = false;
    filter.items_at_position = true;
    filter.gates.push_back({{{0, 0xFF}, {1, 0xD8}, {2, 0xFF}}, 3});
    return filter;
}

static_assert(formathound::Magic::kMaxTests <= Gate::kMaxTests, "a magic's tests fit in a gate");

CandidateFilter FormatMagicFilter() {
    CandidateFilter filter;
    filter.everywhere = false;
    filter.items_at_position = true;
    for (const formathound::Magic& magic : formathound::kMagics) {
        Gate gate{};
        for (uint32_t t = 0; t < magic.count; ++t) {
            gate.tests[gate.count++] = {magic.tests[t].offset, magic.tests[t].value};
        }
        filter.gates.push_back(gate);
    }
    return filter;
}

CandidateFilter SignatureFilter(const SignatureList& list) {
    CandidateFilter filter;
    filter.everywhere = false;
    filter.items_at_position = true;
    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* signature = list.Signature(i);
        if (signature == nullptr) continue;  // Detect passes over it as well
        // A bounded signature's item may start behind its start pattern.
        const auto* bounded = dynamic_cast<const BoundedSignature*>(signature);
        if (bounded != nullptr && bounded->start_offset != 0) filter.items_at_position = false;
        const PatternArray& pattern = signature->pattern;
        const auto* element = static_cast<const PatternByte*>(pattern.Items());
        Gate gate{};
        for (int32_t k = 0; k < pattern.Count() && gate.count < kSignatureGateTests; ++k) {
            if (element[k].exact == 0) continue;
            gate.tests[gate.count++] = {static_cast<uint32_t>(k), element[k].value};
        }
        if (gate.count == 0) return CandidateFilter();  // matches at every position
        filter.gates.push_back(gate);
    }
    return filter;
}

CandidateFilter ReadSignatureFilter(void* module) {
    char path[kMaxPath + 1];
    if (!BuildSignsPath(module, path)) return CandidateFilter();
    SignatureList list;
    LoadSignatureFile(path, list);
    return SignatureFilter(list);
}

void SignatureFilters::ReadBeforeInitialize(const std::string& name, void* module) {
    readings_.push_back({name, ReadSignatureFilter(module), CandidateFilter(), false});
}

void SignatureFilters::ReadAfterInitialize(const std::string& name, void* module) {
    for (Reading& reading : readings_) {
        if (reading.name != name) continue;
        reading.after = ReadSignatureFilter(module);
        reading.read_after = true;
    }
}

CandidateFilter SignatureFilters::For(const std::string& name) const {
    for (const Reading& reading : readings_) {
        if (reading.name != name) continue;
        if (reading.read_after && reading.before == reading.after) return reading.before;
    }
    return CandidateFilter();
}
