#pragma once
// The year figures as tables of text: the window shows them, the exports write them.
#include "storage/yearfigures.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tsl::books {

struct TextTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::vector<bool> numeric; // per column
};

// Per month line (and a last line 合计): 月份, 发货次数, 发货金额, 进货金额, 交货金额, 收入.
// The undated line is left out when no row falls on it.
[[nodiscard]] TextTable monthTable(const YearFigures& f);
// Two ledgers side by side: 月份, then for 发货, 进货, 交货 and 收入 this ledger's
// total, the other's, and the difference (this - other).
[[nodiscard]] TextTable comparisonTable(const YearFigures& mine, std::string_view myName,
                                        const YearFigures& other, std::string_view otherName);
// The names of one book: 名字 (the book's party), 次数, 金额, 占比.
[[nodiscard]] TextTable nameTable(const YearFigures& f, Movement m);

// A name's share of the book total as "12.3%", or "-" when the total is not above zero.
[[nodiscard]] std::string shareText(std::int64_t part, std::int64_t whole);

// One line naming the rows left out for their amounts (empty when there are none):
// how many per book, and the first few by row, stamp, name and amount.
[[nodiscard]] std::string badAmountNotice(const YearFigures& f, std::size_t shown = 5);

} // namespace tsl::books
