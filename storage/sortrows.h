#pragma once
// The orders a book's rows are shown in when a column title is clicked:
// amounts and quantities as numbers, serial stamps by their number. Only the
// view's order; the book keeps its stored order and its serial numbers.
#include "storage/cursor.h"

#include <optional>
#include <string_view>
#include <vector>

namespace tsl {

// How a field's texts are ordered: Text is left to the caller's collation.
enum class SortKind { Number, Serial, Text };

// Amounts and quantities by number, the stamp by its serial, the rest as text.
[[nodiscard]] SortKind sortKindOf(std::string_view fieldName);

// The n of a stamp "(n)date"; none when the text does not start so.
[[nodiscard]] std::optional<long long> stampSerial(std::string_view stamp);

// 0-based positions of every stored row, ordered by the field at `pos` read as
// `kind` (Number: the whole-number conversion of amounts; Serial: stampSerial),
// ascending or descending. Texts that do not read as such come after all that
// do, in either direction; equal keys and those texts keep their stored order.
// One scan of the field through the book's engine; the cursor turns rowids into positions.
[[nodiscard]] std::vector<int> sortedRows(Cursor& book, int pos, SortKind kind, bool descending);

} // namespace tsl
