// ISO 9660 and UDF images: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkIso9660(Source&, Found*) { return false; }

}  // namespace formathound
