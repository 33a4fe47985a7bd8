// Pattern values read as the signature loader reads them, for the notes of
// "hound signs": tokens whose byte is not what they seem to say, and
// patterns with so few exact bytes that they match all the time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/signs/signs_reasons.h"

// A token whose element surprises: reason is a short code, message says
// what the token gives and why.
struct TokenNote {
    std::string token;  // after its leading blanks
    SignsReason reason = SignsReason::kNone;
    std::string message;
};

// Reasons, in the order they are tested (one note per token at most):
//   "no_digit"     the token does not end in a digit of its base: 0x00
//   "blank_inside" only the number after the last blank counts
//   "ignored_text" characters in front of the digits are not read (-1 is 1)
//   "over_255"     the value keeps its low 8 bits only
//   "quote_rest"   only the character after a quote mark counts
//   "lone_quote"   a quote mark alone gives 0x00
// Tokens that give no element at all are left to the loader's own report.
std::vector<TokenNote> SurprisingTokens(const std::string& value);

// Fewer exact bytes than this in a header or start pattern: it matches by
// chance every few KiB of ordinary data.
constexpr uint32_t kFewExactBytes = 3;

// The warning for a header or start pattern of exact_bytes exact elements
// (hex: the pattern as text), or "" when it has kFewExactBytes or more.
std::string FewExactBytesMessage(uint32_t exact_bytes, const std::string& hex);
