// Fuzz target: the number reader (ParseInBase in every base, ParseNumber and
// CharIndex) against a plain model of the same rules.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/number_model.h"
#include "markhound/support/numbers.h"

namespace {

using model::kDigits;
using model::ModelParseInBase;
using model::ModelParseNumber;

int32_t ModelCharIndex(const std::string& alphabet, char c, int32_t limit) {
    if (c == '\0') return -1;
    for (size_t i = 0; i < alphabet.size() && (limit < 0 || i < static_cast<size_t>(limit)); ++i) {
        if (alphabet[i] == c) return static_cast<int32_t>(i);
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const int32_t base = input.Byte() % 40;
    const char probe = static_cast<char>(input.Byte());
    const int32_t limit = static_cast<int8_t>(input.Byte());
    // The text stops at its first NUL, as the callers' texts do.
    std::string text(reinterpret_cast<const char*>(input.Rest()), input.RestSize());
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));

    for (int32_t b = 0; b < 40; ++b) FUZZ_CHECK(ParseInBase(text.c_str(), b) == ModelParseInBase(text, b));
    FUZZ_CHECK(ParseNumber(text.c_str(), base) == ModelParseNumber(text, base));
    FUZZ_CHECK(ParseNumber(text.c_str(), 10) == ModelParseNumber(text, 10));
    FUZZ_CHECK(CharIndex(text.c_str(), probe, limit) == ModelCharIndex(text, probe, limit));
    FUZZ_CHECK(CharIndex(kDigitAlphabet, probe, limit) == ModelCharIndex(kDigits, probe, limit));
    return 0;
}
