// RAR 4 and RAR 5 archives: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkRar(Source&, Found*) { return false; }

}  // namespace formathound
