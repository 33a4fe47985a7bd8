// GZIP members rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> GzipCases() { return {}; }

}  // namespace formathound_test
