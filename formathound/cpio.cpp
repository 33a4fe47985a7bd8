// CPIO archives: newc, odc: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkCpio(Source&, Found*) { return false; }

}  // namespace formathound
