// GIMP XCF: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkXcf(Source&, Found*) { return false; }

}  // namespace formathound
