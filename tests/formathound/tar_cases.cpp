// TAR archives: ustar, GNU rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> TarCases() { return {}; }

}  // namespace formathound_test
