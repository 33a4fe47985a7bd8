// formathound's Detect: dispatch by the magics at the position, then the
// walk of the first magic whose walk accepts.
#pragma once
#include <cstdint>

#include "contract/kx_plugin.h"

namespace formathound {

uint32_t Detect(const HostReader* reader, uint64_t position, FoundItem* item);

}  // namespace formathound
