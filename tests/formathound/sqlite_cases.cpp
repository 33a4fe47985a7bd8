// SQLite 3 databases rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> SqliteCases() { return {}; }

}  // namespace formathound_test
