// LZ4 frames: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkLz4(Source&, Found*) { return false; }

}  // namespace formathound
