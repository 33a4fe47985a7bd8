// The end of an item by formathound's walk of its structure, for checkers
// whose library reads an item but does not say where it ends (TIFF: the
// highest byte any directory points at).
#pragma once
#include <cstdint>

#include "host/base/item.h"

// The size formathound finds for an item at the start of bytes, or 0 where
// its walks find none there.
uint64_t WalkEnd(CheckBytes bytes);
