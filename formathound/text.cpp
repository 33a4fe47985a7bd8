// Text: scripts, XML, HTML, JSON, RTF, PostScript, mail: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkText(Source&, Found*) { return false; }

}  // namespace formathound
