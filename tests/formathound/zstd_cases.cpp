// Zstandard frames rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> ZstdCases() { return {}; }

}  // namespace formathound_test
