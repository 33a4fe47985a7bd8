// Photoshop PSD, PSB: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkPsd(Source&, Found*) { return false; }

}  // namespace formathound
