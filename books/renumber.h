#pragma once
// The serial numbers of books 2..4: every row's stamp starts with its position,
// "(8)2026-5-12". A delete numbers the rows after it again; its undo puts the
// numbers back. The rule of what number a row gets is here alone.
#include <functional>
#include <string>
#include <string_view>

namespace tsl {
class Cursor;
class DeleteUndo;
}

namespace tsl::books {

// The stamp of the row at a 1-based position: "(" + position + ")" and what
// followed the first ")"; a stamp without ")" stays as it is.
[[nodiscard]] std::string numberedStamp(std::string_view stamp, long long position);
// numberedStamp as an SQL expression over two SQL expressions (a text column and
// an integer), for numbering a whole range of rows in one statement.
[[nodiscard]] std::string numberedStampSql(const std::string& stamp, const std::string& position);

// Deletes the current row of `book`, and in books 2..4 numbers every row again
// from the first, writing only the stamps that change, all in one transaction.
// `beforeRenumber` runs between the two (the grid holds still). A failed
// removal goes unreported and the numbering rewrites the same numbers; a
// numbering that fails keeps what was written before it and throws. The cursor
// ends on the last row when numbering, wherever the removal left it otherwise.
// With `undo`, the row and the stamps the undo must put back are captured first.
void deleteRow(Cursor& book, const std::function<void()>& beforeRenumber = {}, DeleteUndo* undo = nullptr);

} // namespace tsl::books
