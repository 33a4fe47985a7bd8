// Photoshop PSD, PSB rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> PsdCases() { return {}; }

}  // namespace formathound_test
