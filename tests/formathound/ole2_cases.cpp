// OLE2 compound files: doc, xls, ppt, msg, msi rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> Ole2Cases() { return {}; }

}  // namespace formathound_test
