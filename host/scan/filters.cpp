// Candidate filters of the plug-ins that hound knows, from their own rules.
#include "host/scan/filters.h"

#include "formathound/magics.h"
#include "markhound/database/loader.h"
#include "markhound/database/reload.h"
#include "markhound/signatures/signature_list.h"
#include "host/scan/signature_answers.h"

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

namespace {

constexpr bool FirstTestsExact() {
    for (const formathound::Magic& magic : formathound::kMagics) {
        if (magic.count == 0 || magic.tests[0].mask != 0xFF || magic.tests[0].differs) return false;
    }
    return true;
}
static_assert(FirstTestsExact(), "the search looks for a gate's first test");

}  // namespace

CandidateFilter FormatMagicFilter() {
    CandidateFilter filter;
    filter.everywhere = false;
    filter.items_at_position = true;
    for (const formathound::Magic& magic : formathound::kMagics) {
        Gate gate{};
        for (uint32_t t = 0; t < magic.count; ++t) {
            const formathound::MagicTest& test = magic.tests[t];
            gate.tests[gate.count++] = {test.offset, test.value, test.mask, test.differs};
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

CandidateFilter ReadSignatureFilter(void* module, std::unique_ptr<SignatureList>* list) {
    auto read = std::make_unique<SignatureList>();
    char path[kMaxPath + 1];
    if (!BuildSignsPath(module, path)) {
        if (list != nullptr) *list = std::move(read);
        return CandidateFilter();
    }
    LoadSignatureFile(path, *read);
    CandidateFilter filter = SignatureFilter(*read);
    if (list != nullptr) *list = std::move(read);
    return filter;
}

void SignatureFilters::ReadBeforeInitialize(const std::string& name, void* module) {
    std::unique_ptr<SignatureList> list;
    Reading reading{name, ReadSignatureFilter(module, &list), CandidateFilter(), false, "", "", nullptr};
    reading.key_before = SignatureListKey(*list);
    readings_.push_back(std::move(reading));
}

void SignatureFilters::ReadAfterInitialize(const std::string& name, void* module) {
    for (Reading& reading : readings_) {
        if (reading.name != name) continue;
        std::unique_ptr<SignatureList> list;
        reading.after = ReadSignatureFilter(module, &list);
        reading.read_after = true;
        reading.key_after = SignatureListKey(*list);
        if (reading.key_after == reading.key_before && SignatureAnswers::Serves(*list)) {
            reading.answers = std::make_shared<const SignatureAnswers>(std::move(list));
        }
    }
}

std::shared_ptr<const SignatureAnswers> SignatureFilters::Answers(const std::string& name) const {
    for (const Reading& reading : readings_) {
        if (reading.name == name && reading.read_after) return reading.answers;
    }
    return nullptr;
}

CandidateFilter SignatureFilters::For(const std::string& name) const {
    for (const Reading& reading : readings_) {
        if (reading.name != name) continue;
        if (reading.read_after && reading.before == reading.after) return reading.before;
    }
    return CandidateFilter();
}
