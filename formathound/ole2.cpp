// OLE2 compound files: doc, xls, ppt, msg, msi: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkOle2(Source&, Found*) { return false; }

}  // namespace formathound
