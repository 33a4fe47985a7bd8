// Unix ar archives, Debian packages: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkAr(Source&, Found*) { return false; }

}  // namespace formathound
