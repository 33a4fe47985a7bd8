// Windows icons and cursors rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> IcoCases() { return {}; }

}  // namespace formathound_test
