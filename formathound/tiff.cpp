// TIFF, BigTIFF and TIFF-based camera raw: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkTiff(Source&, Found*) { return false; }

}  // namespace formathound
