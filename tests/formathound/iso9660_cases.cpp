// ISO 9660 and UDF images rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> Iso9660Cases() { return {}; }

}  // namespace formathound_test
