// Zstandard frames: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkZstd(Source&, Found*) { return false; }

}  // namespace formathound
