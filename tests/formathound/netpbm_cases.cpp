// Netpbm P1-P7 rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> NetpbmCases() { return {}; }

}  // namespace formathound_test
