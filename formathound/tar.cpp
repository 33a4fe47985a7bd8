// TAR archives: ustar, GNU: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkTar(Source&, Found*) { return false; }

}  // namespace formathound
