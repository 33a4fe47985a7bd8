// Pattern tokens read as the loader reads them, for the notes of "hound signs".
#include "host/signs/signs_tokens.h"

#include <cctype>
#include <cstdio>

#include "markhound/support/numbers.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Hex(uint32_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte & 0xFF));
    return text;
}

// How ParseNumber reads a token: its base, and the text its digits are read
// from (the suffix taken away), from the end towards the start.
struct NumberForm {
    int base;
    std::string digits_text;
    const char* base_name;
};

NumberForm FormOf(const std::string& token) {
    const char last = token.back();
    if (token.size() > 1 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        return {16, token, "a hexadecimal"};
    }
    if (last == 'h' || last == 'H') return {16, token.substr(0, token.size() - 1), "a hexadecimal"};
    if (last == 'b' || last == 'B') return {2, token.substr(0, token.size() - 1), "a binary"};
    if (token[0] == '0') return {8, token, "an octal (it begins with 0)"};
    return {10, token, "a decimal"};
}

bool IsDigitOf(char c, int base) {
    const int upper = std::toupper(static_cast<unsigned char>(c));
    const int value = std::isdigit(upper)              ? upper - '0'
                      : (upper >= 'A' && upper <= 'Z') ? upper - 'A' + 10
                                                       : 99;
    return value < base;
}

bool AllHexDigits(const std::string& text) {
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return !text.empty();
}

// Tokens are shown in double quotes: single ones are part of many tokens.
std::string TokenText(const std::string& token) { return "the token \"" + token + "\""; }

// The note on a number token, or an empty reason.
TokenNote NumberNote(const std::string& token) {
    const uint32_t value = static_cast<uint32_t>(ParseNumber(token.c_str(), 10));
    if (value == 0xFFFFFFFFu) return {};  // no element: the loader reports it
    const NumberForm form = FormOf(token);
    std::string text = form.digits_text;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    size_t first_digit = text.size();
    while (first_digit > 0 && IsDigitOf(text[first_digit - 1], form.base)) --first_digit;
    const std::string in_front = text.substr(0, first_digit);
    const std::string gives = "gives " + Hex(value);

    if (first_digit == text.size()) {
        std::string message = TokenText(token) + " is read as " + form.base_name +
                              " number that does not end in one of its digits, so it " + gives;
        if (token.back() == ' ' && (text.back() == 'h' || text.back() == 'H')) {
            message += "; the blank after the h makes it decimal";
        } else if (form.base == 10 && AllHexDigits(text)) {
            message += "; write 0x" + text + " or " + text + "h for hexadecimal";
        }
        return {token, SignsReason::kNoDigit, message};
    }
    for (char c : in_front) {
        if (IsBlank(c)) {
            return {token, SignsReason::kBlankInside,
                    TokenText(token) + " has a blank inside: only its last number counts, so it " +
                        gives + "; separate bytes with commas"};
        }
    }
    const bool prefix_only = form.base == 16 && (in_front == "0x" || in_front == "0X");
    if (!in_front.empty() && !prefix_only) {
        return {token, SignsReason::kIgnoredText,
                TokenText(token) + ": the characters in front of its digits (\"" + in_front +
                    "\") are not read, so it " + gives};
    }
    if (value > 0xFF) {
        return {token, SignsReason::kOver255,
                TokenText(token) + " is " + std::to_string(value) +
                    ", more than a byte holds: only its low 8 bits count, so it " + gives};
    }
    return {};
}

TokenNote QuoteNote(const std::string& token) {
    if (token.size() == 1) {
        return {token, SignsReason::kLoneQuote, TokenText(token) + ", a quote mark alone, gives 0x00"};
    }
    std::string rest = token.substr(2);
    while (!rest.empty() && IsBlank(rest.back())) rest.pop_back();
    if (rest.empty() || rest == token.substr(0, 1)) return {};
    return {token, SignsReason::kQuoteRest,
            TokenText(token) + ": only the character after the quote mark counts, so it gives " +
                Hex(static_cast<unsigned char>(token[1]))};
}

}  // namespace

std::vector<TokenNote> SurprisingTokens(const std::string& value) {
    std::vector<TokenNote> notes;
    if (value.empty()) return notes;
    size_t start = 0;
    while (true) {
        const size_t comma = value.find(',', start);
        std::string token =
            value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t lead = 0;
        while (lead < token.size() && IsBlank(token[lead])) ++lead;
        token.erase(0, lead);
        if (!token.empty() && token[0] != '?') {
            const TokenNote note =
                token[0] == '\'' || token[0] == '`' ? QuoteNote(token) : NumberNote(token);
            if (note.reason != SignsReason::kNone) notes.push_back(note);
        }
        if (comma == std::string::npos) return notes;
        start = comma + 1;
    }
}

std::string FewExactBytesMessage(uint32_t exact_bytes, const std::string& hex) {
    if (exact_bytes >= kFewExactBytes) return "";
    const std::string pattern = "the pattern (" + hex + ")";
    if (exact_bytes == 0) return pattern + " has no exact byte: it matches at every position";
    return pattern + " has only " + std::to_string(exact_bytes) + " exact byte" +
           (exact_bytes == 1 ? "" : "s") + ": by chance alone it matches once in every " +
           (exact_bytes == 1 ? "256 bytes" : "64 KiB") +
           " of random data, so it will fire constantly on ordinary data; give it at least " +
           std::to_string(kFewExactBytes) + " exact bytes";
}
