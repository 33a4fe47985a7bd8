// Unix ar archives, Debian packages rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> ArCases() { return {}; }

}  // namespace formathound_test
