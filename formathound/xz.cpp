// XZ streams: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkXz(Source&, Found*) { return false; }

}  // namespace formathound
