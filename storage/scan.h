#pragma once
#include "storage/connection.h"
#include "storage/cursor.h"

#include <cstdint>
#include <string_view>

namespace tsl {

// Points a cursor at another table: close, set the table name, open. Every use
// of a shared scratch cursor starts so, wherever it was left. A cursor already
// on that table, with nothing in the file changed since it read its rows, is
// only put back on its first row (as opening leaves it) instead of reading them again.
void reopen(Cursor& cursor, std::string_view table);

// From the first row, walks to the first row whose field at `pos` holds exactly
// `text` (byte for byte). True with that row current; false with the cursor on
// the last row and eof set (an empty table: no current row).
[[nodiscard]] bool findExact(Cursor& cursor, int pos, std::string_view text);

// Row count and the sum of the whole numbers in the last field of a table, in
// one pass of the engine and without a cursor. `converted` is false when some
// value is no whole number: the sum then means nothing, and a cursor walk over
// the table is what tells which row and why.
struct TableTotal {
    std::int64_t rows = 0;
    std::int64_t sum = 0;
    bool converted = true;
};
[[nodiscard]] TableTotal totalOfLastField(Connection& conn, std::string_view table);

// A query of every row's text of the field at `pos` of a table, in stored
// order, without a cursor: step() it and read text(0) (NULL reads as ""). A
// table without such a field fails here, before any row is read.
[[nodiscard]] QueryPtr columnOf(Connection& conn, std::string_view table, int pos);

// Only the row count.
[[nodiscard]] std::int64_t rowCount(Connection& conn, std::string_view table);

} // namespace tsl
