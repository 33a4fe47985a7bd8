// Truevision TGA: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkTga(Source&, Found*) { return false; }

}  // namespace formathound
