#pragma once
#include "cursor.h"

#include <string_view>

namespace tsl {

// Points a cursor at another table: close, set the table name, open. Every use
// of a shared scratch cursor starts so, wherever it was left.
void reopen(Cursor& cursor, std::string_view table);

// From the first row, walks to the first row whose field at `pos` holds exactly
// `text` (byte for byte). True with that row current; false with the cursor on
// the last row and eof set (an empty table: no current row).
[[nodiscard]] bool findExact(Cursor& cursor, int pos, std::string_view text);

} // namespace tsl
