#pragma once
// Names and other texts in the order a Chinese reader looks them up: by pinyin
// (the zh_CN collation): Chinese texts first, then Latin ones alphabetically in
// either case; digits inside a text by their value ("客户2" before "客户10").
#include "storage/cursor.h"

#include <string>
#include <vector>

namespace tsl::out {

// Indexes of `texts` (UTF-8) in collation order; equal texts keep their order.
[[nodiscard]] std::vector<int> collatedOrder(const std::vector<std::string>& texts, bool descending);

// 0-based positions of every stored row ordered so by the field at `pos`: one
// pass over the book, one collation key per distinct text.
[[nodiscard]] std::vector<int> collatedRows(const Cursor& book, int pos, bool descending);

} // namespace tsl::out
