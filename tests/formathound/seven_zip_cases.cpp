// 7z archives rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> SevenZipCases() { return {}; }

}  // namespace formathound_test
