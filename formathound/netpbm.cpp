// Netpbm P1-P7: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkNetpbm(Source&, Found*) { return false; }

}  // namespace formathound
