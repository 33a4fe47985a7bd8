// ELF programs and libraries rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> ElfCases() { return {}; }

}  // namespace formathound_test
