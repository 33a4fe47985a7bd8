// SQLite 3 databases: not walked yet.
#include "formathound/walks.h"

namespace formathound {

bool WalkSqlite(Source&, Found*) { return false; }

}  // namespace formathound
