#pragma once
// The serial numbers of books 2..4: every row's stamp starts with its position,
// "(8)2026-5-12". A delete numbers the rows after it again; its undo puts the
// numbers back. The rule of what number a row gets is here alone.
#include <functional>
#include <string>
#include <string_view>

namespace tsl {
class Cursor;
}

namespace tsl::books {

// The stamp of the row at a 1-based position: "(" + position + ")" and what
// followed the first ")"; a stamp without ")" stays as it is.
[[nodiscard]] std::string numberedStamp(std::string_view stamp, long long position);

// Deletes the current row of `book`, and in books 2..4 numbers every row again
// from the first, writing only the stamps that change, all in one transaction.
// `beforeRenumber` runs between the two (the grid holds still). A failed
// removal goes unreported and the numbering rewrites the same numbers; a post
// that fails keeps what was written before it and throws. The cursor ends on
// the last row when numbering, wherever the removal left it otherwise.
void deleteRow(Cursor& book, const std::function<void()>& beforeRenumber = {});

} // namespace tsl::books
