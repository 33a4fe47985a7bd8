// TIFF, BigTIFF and TIFF-based camera raw rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> TiffCases() { return {}; }

}  // namespace formathound_test
