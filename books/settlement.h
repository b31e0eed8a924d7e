#pragma once
// The settlement (结帐) of one customer, supplier or worker: every row of a
// book whose name field holds exactly the name typed, byte for byte, in stored
// order, and the total of their amounts. The workspace, the statements and
// tessolan-export all take their rows from here, so they always agree.
#include "storage/period.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>


namespace tsl {
class Cursor;
class Engine;
}

namespace tsl::books {

inline constexpr std::string_view kNameMissing = "结帐条件必须是某个人的姓名或某个厂名!";
inline constexpr std::string_view kNoMatch = "没有符合结帐条件的人或厂家!";
inline constexpr std::string_view kNothingInPeriod = "所选期间内没有这个人或厂家的记录!";

// Books 2..4 are settled; the customer book is not.
[[nodiscard]] bool isSettled(std::string_view table);

struct Settlement {
    std::string table;               // "2".."4"
    std::string name;                // the name settled
    std::vector<std::string> fields; // the book's field names
    std::vector<std::vector<std::string>> rows;
    std::int64_t total = 0; // 64 bits: a large account never wraps
    Period period;           // whole ledger unless cut by inPeriod
    // Rows of a period whose stamp date cannot be read: listed apart, never in the total.
    std::vector<std::vector<std::string>> undated;
    [[nodiscard]] bool empty() const { return rows.empty() && undated.empty(); }
};

// Told of each row as it is taken, after its amount converted.
using Listed = std::function<void(const std::vector<std::string>& row)>;

// The settlement of `name` in the book open in `book`. An amount that is no
// whole number stops it with the conversion's error (ConvertError) on that row:
// the rows before it were listed, the cursor stands on it. Run to its end it
// leaves the cursor on the last row. No rows: an empty settlement.
[[nodiscard]] Settlement settle(Cursor& book, std::string_view name, const Listed& listed = {});

// The same from a ledger's handle (opened read-only by an export), table "2".."4";
// engine failures throw Error after `context`.
[[nodiscard]] Settlement settle(Engine& db, std::string_view table, std::string_view name,
                                const std::string& context = {});

// The settlement cut to a period, each row placed by its stamp's date: the rows
// inside stay in order, those outside go, those whose date cannot be read move
// to `undated`; the total is of the rows inside only. The whole ledger leaves
// the settlement as it is. The amounts were all converted when it was taken.
[[nodiscard]] Settlement inPeriod(Settlement whole, const Period& period, const StampDateReader& dates);

} // namespace tsl::books
