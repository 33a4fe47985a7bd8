// Why hound signs passes a section over or warns about it: one code each,
// written as its short name in the JSON lines ("reason").
#pragma once
#include <cstdint>

enum class SignsReason : uint8_t {
    kNone,
    // Passed over.
    kSwitchedOff,
    kNoKind,
    kEmptyPattern,
    kSizeWidth,
    kIncludeMissing,
    kIncludeCycle,
    kIncludeTooDeep,
    kTooManyFiles,
    kNamesCut,
    kNameCutShort,
    kOutOfMemory,
    // Warnings.
    kValueCut,
    kTokenIgnored,
    kFewExactBytes,
    kNoDigit,
    kBlankInside,
    kIgnoredText,
    kOver255,
    kQuoteRest,
    kLoneQuote,
    kFileUnreadable,
    kCount,
};

// "switched_off", "no_kind", ...; "" for kNone.
const char* SignsReasonName(SignsReason reason);
