// CPIO archives: newc, odc rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> CpioCases() { return {}; }

}  // namespace formathound_test
