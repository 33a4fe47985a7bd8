// Truevision TGA rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> TgaCases() { return {}; }

}  // namespace formathound_test
