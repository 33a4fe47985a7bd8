// Pattern reader: the text of a pattern key becomes PatternByte elements.
#pragma once
#include "markhound/support/arrays.h"

// Called with each non-empty token that gives no element.
using IgnoredTokenHook = void (*)(void* context, const char* token);

// Empties target and fills it from value: comma-separated tokens, each after
// its leading blanks a quoted character ('c or `c), a wildcard (?...), or a
// number (any base form ParseNumber reads; 0xFFFFFFFF gives no element).
// False when an element could not be stored for want of memory; target is
// then left empty, so that a partial pattern never matches.
bool ParsePattern(const char* value, PatternArray& target, IgnoredTokenHook hook = nullptr,
                  void* hook_context = nullptr);
