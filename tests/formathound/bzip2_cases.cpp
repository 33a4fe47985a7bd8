// BZIP2 streams rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> Bzip2Cases() { return {}; }

}  // namespace formathound_test
