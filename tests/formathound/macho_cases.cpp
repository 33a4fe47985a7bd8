// Mach-O programs and libraries rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> MachOCases() { return {}; }

}  // namespace formathound_test
