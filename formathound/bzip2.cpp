// BZIP2 streams: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkBzip2(Source&, Found*) { return false; }

}  // namespace formathound
