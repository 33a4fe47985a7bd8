// ELF programs and libraries: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkElf(Source&, Found*) { return false; }

}  // namespace formathound
