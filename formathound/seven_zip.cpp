// 7z archives: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkSevenZip(Source&, Found*) { return false; }

}  // namespace formathound
