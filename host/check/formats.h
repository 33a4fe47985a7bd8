// The formats that hound checks: one row each, with its name, its magic,
// its checker, its reasons and, where it has one, its pre-check. The check
// dispatch, the known plug-ins' pre-checks, the fuzz target and the tests
// read this table; nothing else lists formats.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "host/base/item.h"
#include "host/check/check.h"

// Bytes that stand at offset from an item's start.
struct Magic {
    uint32_t offset;
    std::string_view bytes;
};

struct Format {
    const char* name;           // "jpeg", "png", ...: the checker's name in every output
    std::vector<Magic> magics;  // any one of them names the format
    const Checker* checker;     // from host/check/<format>.cpp
    // Byte strings that the checker looks for, for the fuzz target's dictionary.
    std::vector<std::string_view> words = {};
    // Finders' extensions that name the format where no magic does (a TGA
    // has none); tried only when no row's magic stands.
    std::vector<std::string_view> extensions = {};
};

// The rows, in the order the dispatch tries their magic.
const std::vector<Format>& Formats();

// The row of the format of that name, or kNoFormat.
uint8_t FindFormat(std::string_view name);

// True when one of the format's magics stands at the start of bytes.
bool HasMagic(const Format& format, CheckBytes bytes);

// Chooses the checker by the item's magic and runs it; unchecked with
// format kNoFormat when no format's magic stands there.
CheckResult CheckItem(CheckBytes bytes);

// The format's pre-check where its magic stands; true elsewhere and for a
// format without one.
bool FormatMayStart(uint8_t format, CheckBytes bytes);

// Texts made at output: the checker's name ("" for kNoFormat) and the text
// of a reason code ("" when unknown).
const char* FormatName(uint8_t format);
const char* ReasonText(uint8_t format, uint8_t reason);
