// Windows PE: exe, dll, sys rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> PeCases() { return {}; }

}  // namespace formathound_test
