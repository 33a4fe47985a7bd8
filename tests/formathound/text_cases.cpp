// Text: scripts, XML, HTML, JSON, RTF, PostScript, mail rows.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> TextCases() { return {}; }

}  // namespace formathound_test
