// Pattern reader.
#include "markhound/database/pattern_reader.h"

#include "markhound/signatures/pattern_byte.h"
#include "markhound/support/numbers.h"
#include "markhound/support/text.h"

namespace {

// Leading blanks of a token: the C locale's white space, no byte above 127.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr int32_t kNoElement = -1;  // ParseNumber's 0xFFFFFFFF
constexpr int32_t kDefaultBase = 10;

}  // namespace

bool ParsePattern(const char* value, PatternArray& target, IgnoredTokenHook hook,
                  void* hook_context) {
    target.Clear();
    const int32_t tokens = TokenCount(value, ",");
    for (int32_t i = 1; i <= tokens; ++i) {
        const char* token = Token(value, i, ",");
        while (IsBlank(*token)) ++token;
        if (*token == '\0') continue;
        PatternByte element{1, 0};
        if (*token == '\'' || *token == '`') {
            // The character after the quote mark; a closing quote is optional.
            element.value = static_cast<uint8_t>(token[1]);
        } else if (*token == '?') {
            element.exact = 0;  // a wildcard; the rest of the token is not read
        } else {
            const int32_t number = ParseNumber(token, kDefaultBase);
            if (number == kNoElement) {
                if (hook != nullptr) hook(hook_context, token);
                continue;
            }
            element.value = static_cast<uint8_t>(number);
        }
        if (target.Add(&element) == nullptr) {
            target.Clear();
            return false;
        }
    }
    return true;
}
