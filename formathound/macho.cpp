// Mach-O programs and libraries: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkMachO(Source&, Found*) { return false; }

}  // namespace formathound
