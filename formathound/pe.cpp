// Windows PE: exe, dll, sys: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkPe(Source&, Found*) { return false; }

}  // namespace formathound
