#include "storage/stmtowner.h"

#include <sqlite3.h>

namespace tsl {

void StmtFinalizer::operator()(sqlite3_stmt* st) const noexcept { sqlite3_finalize(st); }

} // namespace tsl
