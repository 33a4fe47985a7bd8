// Windows icons and cursors: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkIco(Source&, Found*) { return false; }

}  // namespace formathound
