// GZIP members: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkGzip(Source&, Found*) { return false; }

}  // namespace formathound
