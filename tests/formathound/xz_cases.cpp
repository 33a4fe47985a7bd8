// XZ streams rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> XzCases() { return {}; }

}  // namespace formathound_test
