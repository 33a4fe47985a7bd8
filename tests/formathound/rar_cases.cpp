// RAR 4 and RAR 5 archives rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> RarCases() { return {}; }

}  // namespace formathound_test
