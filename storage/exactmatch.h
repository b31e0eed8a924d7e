#pragma once
// Rows picked by one field holding exactly a text, byte for byte, whatever
// collation the column declares: the rows a walk comparing the field's text
// would stop at. Read from a database handle without a cursor (a ledger opened
// read-only for an export); the cursor's forEachMatch picks the same rows.
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace tsl {

class Engine;

// The WHERE condition on a quoted field against parameter ?1.
[[nodiscard]] std::string exactMatchCondition(std::string_view quotedField);

// Hands every row of `table` whose field at `pos` holds exactly `text` to
// `each`, in stored order, every field as text (NULL as ""), until `each`
// returns false. The views are valid during the call only. An empty `text`
// matches the empty and the NULL values. Engine failures throw Error after
// `context`.
void forEachExact(Engine& db, std::string_view table, int pos, std::string_view text,
                  const std::function<bool(std::span<const std::string_view> row)>& each,
                  const std::string& context = {});

} // namespace tsl
