// GIMP XCF rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> XcfCases() { return {}; }

}  // namespace formathound_test
