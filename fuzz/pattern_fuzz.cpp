// Fuzz target: the pattern reader (ParsePattern) against a plain model of the
// pattern syntax, and with allocations refused at a chosen point.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/number_model.h"
#include "markhound/database/pattern_reader.h"
#include "markhound/signatures/pattern_byte.h"
#include "markhound/support/memory.h"

namespace {

struct ModelElement {
    bool exact;
    uint8_t value;
};

struct ModelPattern {
    std::vector<ModelElement> elements;
    std::vector<std::string> ignored;  // non-empty tokens that give no element
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

ModelPattern ModelParse(const std::string& value) {
    ModelPattern pattern;
    if (value.empty()) return pattern;
    size_t begin = 0;
    for (;;) {
        const size_t comma = value.find(',', begin);
        std::string token = value.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        size_t first = 0;
        while (first < token.size() && IsBlank(token[first])) ++first;
        token.erase(0, first);
        if (!token.empty()) {
            if (token[0] == '\'' || token[0] == '`') {
                pattern.elements.push_back({true, static_cast<uint8_t>(token.size() > 1 ? token[1] : 0)});
            } else if (token[0] == '?') {
                pattern.elements.push_back({false, 0});
            } else {
                const int32_t number = model::ModelParseNumber(token, 10);
                if (number == -1) {
                    pattern.ignored.push_back(token);
                } else {
                    pattern.elements.push_back({true, static_cast<uint8_t>(number)});
                }
            }
        }
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return pattern;
}

void RecordIgnored(void* context, const char* token) {
    static_cast<std::vector<std::string>*>(context)->push_back(token);
}

// Allocation refusal: the n-th request, or every request from the n-th on.
uint32_t g_requests = 0;
uint32_t g_refuse_at = 0;
bool g_refuse_rest = false;

bool Refuse(std::size_t) {
    ++g_requests;
    return g_requests == g_refuse_at || (g_refuse_rest && g_requests > g_refuse_at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t mode = input.Byte();
    const uint8_t refuse_at = input.Byte();
    std::string value(reinterpret_cast<const char*>(input.Rest()), input.RestSize());
    value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));

    // A target that already holds elements: they must not survive.
    auto* target = new PatternArray;
    if (target == nullptr) return 0;
    for (uint32_t i = 0; i < (mode >> 2); ++i) {
        const PatternByte junk{1, static_cast<uint8_t>(i)};
        target->Add(&junk);
    }

    if ((mode & 1) != 0 && refuse_at != 0) {
        g_requests = 0;
        g_refuse_at = refuse_at;
        g_refuse_rest = (mode & 2) != 0;
        MemSetFailureHook(&Refuse);
        const bool stored = ParsePattern(value.c_str(), *target);
        MemSetFailureHook(nullptr);
        // Without memory the reader may lose elements, but never keeps a part
        // of a pattern it reports as not stored.
        if (!stored) FUZZ_CHECK(target->Count() == 0);
        size_t tokens = value.empty() ? 0 : 1;
        for (char c : value) tokens += c == ',';
        FUZZ_CHECK(static_cast<size_t>(target->Count()) <= tokens);
        delete target;
        return 0;
    }

    std::vector<std::string> ignored;
    FUZZ_CHECK(ParsePattern(value.c_str(), *target, &RecordIgnored, &ignored));
    const ModelPattern expected = ModelParse(value);
    FUZZ_CHECK(target->Count() == static_cast<int32_t>(expected.elements.size()));
    const auto* elements = static_cast<const PatternByte*>(target->Items());
    for (size_t i = 0; i < expected.elements.size(); ++i) {
        FUZZ_CHECK((elements[i].exact != 0) == expected.elements[i].exact);
        if (expected.elements[i].exact) FUZZ_CHECK(elements[i].value == expected.elements[i].value);
    }
    FUZZ_CHECK(ignored == expected.ignored);

    // Without a hook the same elements come out.
    PatternArray again;
    FUZZ_CHECK(ParsePattern(value.c_str(), again));
    FUZZ_CHECK(again.Count() == target->Count());
    for (int32_t i = 0; i < again.Count(); ++i) {
        const auto* a = static_cast<const PatternByte*>(again.At(i));
        const auto* b = static_cast<const PatternByte*>(target->At(i));
        FUZZ_CHECK(a->exact == b->exact && (a->exact == 0 || a->value == b->value));
    }
    delete target;
    return 0;
}
