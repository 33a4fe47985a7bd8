// LZ4 frames rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> Lz4Cases() { return {}; }

}  // namespace formathound_test
